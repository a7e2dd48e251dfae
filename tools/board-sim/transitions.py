"""The board's lifetime state and the one place where its modes are made."""

from collections import Counter
from typing import Any, Dict, Optional

from application import ApplicationMode, RemoteUpdate, SilentMode
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


class ApplicationSlot:
    """What the flash holds for the application, the one thing a power cycle keeps.

    "old" is the application the board had, "written" a completely programmed
    new one, "broken" a programming started and not finished.
    """

    def __init__(self):
        self.state = "old"

    def started(self) -> None:
        self.state = "broken"

    def completed(self) -> None:
        self.state = "written"


class Context:
    """What outlives a mode: the options, the board and what it has counted."""

    def __init__(self, opt, board: Optional[Board] = None):
        self.opt = opt
        self.board = board or make_board(opt)
        self._seen = Counter()
        self.slot = ApplicationSlot()
        self.remote = RemoteUpdate(self.slot)
        self.isp = IspChip(opt, slot=self.slot) if opt.platform == "old" else None
        self.netboot = NetbootRecord(opt, self.slot) if opt.platform == "new" else None
        self._interface = opt.interface
        # Set once the board restarted into new firmware with --no-return.
        self.gone = False
        self.power_cycles = []
        self.restarts = []

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

    def power_on(self, now: float, cause: str) -> str:
        """Where the board comes up after a power cycle or a restart of its own."""
        if self.isp is not None:
            self.isp.power_on()
        target = "application"
        if self.slot.state == "broken":
            target = "bootloader"
        elif self.slot.state == "written":
            self.slot.state = "old"
            self.board.version = self.opt.new_version
            self.gone = self.opt.no_return
        record = {"t": round(now, 4), "came_up_in": target, "version": self.board.version.hex()}
        (self.power_cycles if cause == "power cycle" else self.restarts).append(record)
        return target

    def report_sections(self) -> Dict[str, Any]:
        sections = {"remote": self.remote.report(), "power_cycles": self.power_cycles,
                    "restarts": self.restarts}
        if self.isp is not None:
            sections["isp"] = self.isp.report()
        if self.netboot is not None:
            sections["netboot"] = self.netboot.report()
        return sections


def enter(target: str, reason: str, ctx: Context, now: float) -> Mode:
    """The mode the board runs after a start or a switch; "power-on" lets the
    flash decide (a power cycle, or a restart the board makes itself)."""
    if target == "power-on":
        target = ctx.power_on(now, reason)
    if target == "application":
        return SilentMode(ctx) if ctx.gone else ApplicationMode(ctx)
    if ctx.opt.platform == "old":
        return IspBootloaderMode(ctx)
    return NetworkBootloaderMode(ctx, reason, now)
