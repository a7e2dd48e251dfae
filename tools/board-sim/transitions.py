"""The board's lifetime state and the one place where its modes are made."""

from collections import Counter
from typing import Any, Dict, Optional

from application import ApplicationMode, RemoteUpdate
from board import NEW_PLATFORM_CODE, OLD_PLATFORM_CODE, Board, load_eeprom
from isp import IspBootloaderMode, IspChip
from modes import Mode
from netboot import NetbootRecord, NetworkBootloaderMode
from netif import only_interface


def make_board(opt) -> Board:
    board = Board(mac=opt.mac, ip=opt.ip, version=opt.version, model_name=opt.model_name)
    if opt.eeprom_file:
        board.eeprom = load_eeprom(opt.eeprom_file)
    if opt.check_code is not None:
        board.set_check_code(opt.check_code)
    else:
        board.set_check_code(NEW_PLATFORM_CODE if opt.platform == "new" else OLD_PLATFORM_CODE)
    return board


class Context:
    """What outlives a mode: the options, the board and what it has counted."""

    def __init__(self, opt, board: Optional[Board] = None):
        self.opt = opt
        self.board = board or make_board(opt)
        self._seen = Counter()
        self.remote = RemoteUpdate()
        self.isp = IspChip(opt) if opt.platform == "old" else None
        self.netboot = NetbootRecord(opt) if opt.platform == "new" else None
        self._interface = opt.interface

    def interface(self) -> str:
        if self._interface is None:
            self._interface = only_interface()
        return self._interface

    def count(self, kind: str) -> int:
        """Counts one more request of a kind; returns how many have come."""
        self._seen[kind] += 1
        return self._seen[kind]

    def finish(self) -> None:
        """Writes the files the board leaves behind."""
        if self.isp is not None:
            self.isp.write_flash_file()
        if self.netboot is not None:
            self.netboot.write_image_file()

    def report_sections(self) -> Dict[str, Any]:
        sections = {"remote": self.remote.report()}
        if self.isp is not None:
            sections["isp"] = self.isp.report()
        if self.netboot is not None:
            sections["netboot"] = self.netboot.report()
        return sections


def enter(target: str, reason: str, ctx: Context, now: float) -> Mode:
    """The mode the board runs after a start or a switch."""
    if target == "application":
        return ApplicationMode(ctx)
    if ctx.opt.platform == "old":
        return IspBootloaderMode(ctx)
    return NetworkBootloaderMode(ctx, reason, now)
