"""The board's lifetime state and the one place where its modes are made."""

from collections import Counter
from typing import Any, Dict

import wire
from application import ApplicationMode
from board import NEW_PLATFORM_CODE, OLD_PLATFORM_CODE, Board, load_eeprom
from isp import IspBootloaderMode, IspChip
from modes import COMMAND, Datagram, Endpoint, Mode, Outcome, frame_details


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

    def __init__(self, opt, board: Board = None):
        self.opt = opt
        self.board = board or make_board(opt)
        self._seen = Counter()
        self.isp = IspChip(opt) if opt.platform == "old" else None

    def count(self, kind: str) -> int:
        """Counts one more request of a kind; returns how many have come."""
        self._seen[kind] += 1
        return self._seen[kind]

    def finish(self) -> None:
        """Writes the files the board leaves behind."""
        if self.isp is not None:
            self.isp.write_flash_file()

    def report_sections(self) -> Dict[str, Any]:
        sections = {}
        if self.isp is not None:
            sections["isp"] = self.isp.report()
        return sections


class BootloaderMode(Mode):
    """Takes every datagram and answers none."""

    name = "bootloader"

    def __init__(self, ctx):
        self._ctx = ctx

    def endpoints(self):
        return [Endpoint(COMMAND, port=self._ctx.opt.port)]

    def on_datagram(self, datagram: Datagram, now: float) -> Outcome:
        del now
        return Outcome("unanswered", details=frame_details(wire.parse(datagram.data)))


def enter(target: str, reason: str, ctx: Context, now: float) -> Mode:
    """The mode the board runs after a start or a switch."""
    del reason, now
    if target == "application":
        return ApplicationMode(ctx)
    if ctx.opt.platform == "old":
        return IspBootloaderMode(ctx)
    return BootloaderMode(ctx)
