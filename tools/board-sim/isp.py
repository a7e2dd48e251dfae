"""The old platform's ISP bootloader: text lines in UDP datagrams.

It models the chip the way its ISP command set sees it: a 512 KiB flash of
thirty sectors, a RAM buffer the host writes with UU-encoded lines, and the
rules that keep the flash safe (unlock, prepare before every erase or copy,
programming that only clears bits). Sectors 0 and 1 hold the bootloader
itself and are never erased or written.
"""

import hashlib
from typing import List, Optional, Tuple

import wire
from application import broadcast_answer, screen
from modes import COMMAND, Datagram, Endpoint, Mode, Outcome, frame_details, reply

FLASH_SIZE = 512 * 1024
# Sectors 0-15 are 4 KiB, 16-29 are 32 KiB.
SECTORS = [(i * 4096, 4096) for i in range(16)] + [(65536 + i * 32768, 32768) for i in range(14)]
LAST_SECTOR = len(SECTORS) - 1
BOOTLOADER_SECTORS = {0, 1}
RAM_BASE = 0x10000000
RAM_SIZE = 32 * 1024
# The bootloader keeps its own variables in the first 512 bytes.
RAM_WRITABLE = RAM_BASE + 0x200
COPY_SIZES = (256, 512, 1024, 4096)
UNLOCK_CODE = 23130
# A checksum line follows at most this many data lines.
LINES_PER_CHECKSUM = 20
# What the host programs: the application region, sectors 2 to 29.
REGION_START = 8192
PAGE = 256

# Return codes of the ISP command set.
CMD_SUCCESS = 0
INVALID_COMMAND = 1
SRC_ADDR_ERROR = 2
DST_ADDR_ERROR = 3
SRC_ADDR_NOT_MAPPED = 4
DST_ADDR_NOT_MAPPED = 5
COUNT_ERROR = 6
INVALID_SECTOR = 7
SECTOR_NOT_PREPARED = 9
PARAM_ERROR = 12
ADDR_ERROR = 13
ADDR_NOT_MAPPED = 14
CMD_LOCKED = 15
INVALID_CODE = 16

_PARAMETERS = {"U": 1, "J": 0, "b": 0, "P": 2, "E": 2, "W": 2, "C": 3}
# Broadcast commands the bootloader still answers.
_BROADCAST_KEPT = {"ETH_REQ", "FWVER_REQ", "E2P_READ", "BOOTLOADER"}
# Problems kept in the report; the rest are counted.
_PROBLEMS_KEPT = 50


def default_flash() -> bytearray:
    """A bootloader in sectors 0-1 and an older application behind it."""
    bootloader_end = SECTORS[2][0]
    # Both patterns repeat every 256 bytes, and the sectors' bounds are multiples of 256.
    flash = bytearray(bytes((i * 7 + 3) & 0xFF for i in range(256)) * (bootloader_end // 256))
    application = bytes((i * 31 + 5) & 0xFF for i in range(256))
    flash += application * ((FLASH_SIZE - bootloader_end) // 256)
    return flash


def load_flash(path: str) -> bytearray:
    with open(path, "rb") as f:
        content = f.read(FLASH_SIZE + 1)
    if len(content) > FLASH_SIZE:
        raise ValueError("%s holds more than %d bytes" % (path, FLASH_SIZE))
    return bytearray(content.ljust(FLASH_SIZE, b"\xff"))


def sector_of(address: int) -> int:
    for number, (start, size) in enumerate(SECTORS):
        if start <= address < start + size:
            return number
    raise ValueError("0x%X is outside the flash" % address)


_UU_VALUE = bytes((c - 0x20) & 0x3F for c in range(256))
_UU_ALPHABET = bytes(range(0x20, 0x61))


def uu_decode(line: str) -> Tuple[bytes, Optional[str]]:
    """One UU line: a length character, then four characters for every three bytes."""
    if not line:
        return b"", "empty data line"
    raw = line.encode("latin-1")
    count = _UU_VALUE[raw[0]]
    problem = None
    if raw.translate(None, _UU_ALPHABET):
        problem = "characters outside the UU alphabet"
    elif len(raw) - 1 != (count + 2) // 3 * 4:
        problem = "%d characters for %d bytes" % (len(raw) - 1, count)
    values = (raw[1:] + b"`" * (-(len(raw) - 1) % 4)).translate(_UU_VALUE)
    out = bytearray()
    for i in range(0, len(values), 4):
        group = values[i] << 18 | values[i + 1] << 12 | values[i + 2] << 6 | values[i + 3]
        out += group.to_bytes(3, "big")
    return bytes(out[:count]), problem


class RamWrite:
    """A "W" command in progress: the data lines since the last checksum wait in `pending`."""

    def __init__(self, address: int, count: int):
        self.address = address
        self.count = count
        self.done = 0
        self.pending = bytearray()
        self.lines = 0
        # Bytes the pending lines' length characters announced.
        self.announced = 0

    def wants_checksum(self) -> bool:
        return self.done + self.announced >= self.count or self.lines >= LINES_PER_CHECKSUM

    def restart(self) -> None:
        self.pending, self.lines, self.announced = bytearray(), 0, 0


class IspChip:
    """Flash, RAM and the state of the ISP dialogue; outlives the mode."""

    def __init__(self, opt, flash: Optional[bytearray] = None, slot=None):
        self.opt = opt
        self.slot = slot
        self.flash = flash if flash is not None else (
            load_flash(opt.flash_init) if opt.flash_init else default_flash())
        self.power_on()
        self.forced_resends_left = opt.resend_first
        self.erases = []
        self.copies = []
        self.refused = []
        self.problems = []
        self.problem_count = 0
        self.protocol_errors = []
        self.checksums = {"ok": 0, "resend": 0, "forced_resend": 0}
        self.data_lines = 0
        self.lost_lines = []
        # Pages of the application region programmed since its programming started.
        self.programmed = set()
        self.busy_until = 0.0

    def power_on(self) -> None:
        """What a power cycle resets: RAM, the handshake, the locks."""
        self.ram = bytearray(b"\xa5" * RAM_SIZE)
        self.synchronized = self.opt.isp_synchronized
        self.offered = False  # "Synchronized" sent, waiting for it to come back
        self.unlocked = False
        self.prepared = set()
        self.write: Optional[RamWrite] = None
        self.busy_until = 0.0

    def answer_delay(self, now: float) -> float:
        """How long after `now` the answer to the last line leaves: the chip
        answers once the erase or copy it runs is over."""
        return max(0.0, self.busy_until - now)

    def _busy(self, now: float, milliseconds: float) -> None:
        if self.opt.strict:
            start = max(now, self.busy_until)
            self.busy_until = start + milliseconds / 1000.0 * self.opt.time_scale

    def _programming(self, pages) -> None:
        """Erasing or copying into the application region breaks the old
        application; every page of the region copied makes a new one."""
        if self.slot is None:
            return
        if self.slot.state != "broken":
            self.slot.started()
            self.programmed = set()
        self.programmed.update(pages)
        if len(self.programmed) == (FLASH_SIZE - REGION_START) // PAGE:
            self.slot.completed()

    def protocol_error(self, now: float, problem: str, text: str) -> None:
        self.protocol_errors.append({"t": round(now, 4), "problem": problem, "datagram": text})

    def take_line(self, line: str, now: float) -> Tuple[str, List[bytes]]:
        """One line without its end: its kind for the report and the answer lines."""
        if self.write is not None:
            return self._data_phase(line, now)
        if not self.synchronized:
            return self._handshake(line)
        words = line.split()
        if not words:
            return "empty", []
        word = words[0]
        if word not in _PARAMETERS:
            return word, [b"%d" % INVALID_COMMAND]
        numbers = [int(w) if w.isdigit() else None for w in words[1:]]
        if len(numbers) != _PARAMETERS[word] or None in numbers:
            return word, self._code(PARAM_ERROR, line, now)
        if word == "J":
            return word, [b"%d" % CMD_SUCCESS, b"%d" % self.opt.part_id]
        if word == "b":
            return word, [self.opt.boot_version]
        handler = {"U": self._unlock, "P": self._prepare, "E": self._erase, "W": self._start_write,
                   "C": self._copy}[word]
        return word, self._code(handler(now, *numbers), line, now)

    def _handshake(self, line: str) -> Tuple[str, List[bytes]]:
        if line == "?":
            self.offered = True
            return "?", [b"Synchronized"]
        if line == "Synchronized" and self.offered:
            self.synchronized = True
            return line, [b"OK"]
        # Before the handshake the chip listens for nothing else.
        return "unsynchronized", []

    def _code(self, code: int, line: str, now: float) -> List[bytes]:
        if code != CMD_SUCCESS:
            self.refused.append({"t": round(now, 4), "line": line, "code": code})
        return [b"%d" % code]

    def _unlock(self, now, code):
        del now
        if code != UNLOCK_CODE:
            return INVALID_CODE
        self.unlocked = True
        return CMD_SUCCESS

    def _prepare(self, now, first, last):
        del now
        if not first <= last <= LAST_SECTOR:
            return INVALID_SECTOR
        self.prepared.update(range(first, last + 1))
        return CMD_SUCCESS

    def _erase(self, now, first, last):
        if not first <= last <= LAST_SECTOR or first in BOOTLOADER_SECTORS:
            return INVALID_SECTOR
        if not self.unlocked:
            return CMD_LOCKED
        if not set(range(first, last + 1)) <= self.prepared:
            return SECTOR_NOT_PREPARED
        start = SECTORS[first][0]
        end = SECTORS[last][0] + SECTORS[last][1]
        self.flash[start:end] = b"\xff" * (end - start)
        self._programming(())
        self._busy(now, (last - first + 1) * self.opt.erase_ms)
        # Every erase or copy locks the sectors again.
        self.prepared.clear()
        self.erases.append({"t": round(now, 4), "first": first, "last": last})
        return CMD_SUCCESS

    def _start_write(self, now, address, count):
        del now
        if address % 4:
            return ADDR_ERROR
        if count == 0 or count % 4:
            return COUNT_ERROR
        if address < RAM_WRITABLE or address + count > RAM_BASE + RAM_SIZE:
            return ADDR_NOT_MAPPED
        self.write = RamWrite(address, count)
        return CMD_SUCCESS

    def _copy(self, now, destination, source, count):
        if not self.unlocked:
            return CMD_LOCKED
        if destination % 256:
            return DST_ADDR_ERROR
        if destination + count > FLASH_SIZE:
            return DST_ADDR_NOT_MAPPED
        if source % 4:
            return SRC_ADDR_ERROR
        if source < RAM_BASE or source + count > RAM_BASE + RAM_SIZE:
            return SRC_ADDR_NOT_MAPPED
        if count not in COPY_SIZES:
            return COUNT_ERROR
        sectors = set(range(sector_of(destination), sector_of(destination + count - 1) + 1))
        if sectors & BOOTLOADER_SECTORS:
            return DST_ADDR_ERROR
        if not sectors <= self.prepared:
            return SECTOR_NOT_PREPARED
        data = int.from_bytes(self.ram[source - RAM_BASE:source - RAM_BASE + count], "big")
        # Programming clears bits only; what would need a set bit stays wrong.
        old = int.from_bytes(self.flash[destination:destination + count], "big")
        self.flash[destination:destination + count] = (old & data).to_bytes(count, "big")
        differences = ((old & data) ^ data).to_bytes(count, "big")
        wrong = count - differences.count(0)
        first = destination + count - len(differences.lstrip(b"\0")) if wrong else None
        self.prepared.clear()
        self._programming(range(destination // PAGE, (destination + count) // PAGE))
        self._busy(now, count / PAGE * self.opt.copy_ms)
        self.copies.append({"t": round(now, 4), "dst": destination, "src": source, "n": count,
                            "mismatches": wrong, "first_mismatch": first})
        return CMD_SUCCESS

    def _data_phase(self, line: str, now: float) -> Tuple[str, List[bytes]]:
        # Like the chip, the bootloader takes every line as data until the lines'
        # length characters add up to the count of W, and the next line as the
        # checksum; only the end of the W (or a power cycle) brings it back to
        # its commands. A host that loses a data line has its checksum taken as
        # data and waits for an answer that never comes.
        write = self.write
        if not write.wants_checksum():
            self.data_lines += 1
            if self.data_lines == self.opt.lose_line:
                self.lost_lines.append({"t": round(now, 4), "line": line})
                return "LOST", []
            data, problem = uu_decode(line)
            if problem:
                self._problem(now, line, problem)
            write.pending += data
            write.announced += _UU_VALUE[ord(line[0])] if line else 0
            write.lines += 1
            return "DATA", []
        expected = sum(write.pending)
        if self.forced_resends_left > 0:
            self.forced_resends_left -= 1
            self.checksums["forced_resend"] += 1
            return "CHECKSUM", self._resend()
        if not line.isdigit():
            self._problem(now, line, "checksum line is not a decimal number")
            return "CHECKSUM", self._resend()
        if int(line) != expected:
            self._problem(now, line, "checksum %s, data sum %d" % (line, expected))
            return "CHECKSUM", self._resend()
        taken = write.pending[:write.count - write.done]
        if len(taken) < len(write.pending):
            self._problem(now, line,
                          "%d bytes past the count of W" % (len(write.pending) - len(taken)))
        offset = write.address - RAM_BASE + write.done
        self.ram[offset:offset + len(taken)] = taken
        write.done += len(taken)
        write.restart()
        self.checksums["ok"] += 1
        if write.done >= write.count:
            self.write = None
        return "CHECKSUM", [b"OK"]

    def _resend(self) -> List[bytes]:
        self.write.restart()
        self.checksums["resend"] += 1
        return [b"RESEND"]

    def _problem(self, now: float, line: str, problem: str) -> None:
        self.problem_count += 1
        if len(self.problems) < _PROBLEMS_KEPT:
            self.problems.append({"t": round(now, 4), "line": line, "problem": problem})

    def write_flash_file(self) -> None:
        if self.opt.flash_file:
            with open(self.opt.flash_file, "wb") as f:
                f.write(self.flash)

    def report(self) -> dict:
        return {
            "synchronized": self.synchronized,
            "unlocked": self.unlocked,
            "erases": self.erases,
            "copies": self.copies,
            "mismatched_copies": sum(1 for c in self.copies if c["mismatches"]),
            "checksums": self.checksums,
            "refused": self.refused,
            "problems": self.problems,
            "problem_count": self.problem_count,
            "protocol_errors": self.protocol_errors,
            "lost_lines": self.lost_lines,
            "write_pending": self.write is not None,
            "flash_sha256": hashlib.sha256(self.flash).hexdigest(),
            "flash_file": self.opt.flash_file,
        }


def _is_frame(data: bytes) -> bool:
    # ISP lines are text: no byte of a line reaches 0x80.
    return len(data) >= 4 and data[2] in (wire.BROADCAST_TABLE, wire.UNICAST_TABLE)


class IspBootloaderMode(Mode):
    name = "bootloader"

    def __init__(self, ctx):
        self._ctx = ctx
        self._opt = ctx.opt
        self._chip = ctx.isp
        self._partial = ""  # a line not ended yet

    def endpoints(self) -> List[Endpoint]:
        endpoints = [Endpoint(COMMAND, port=self._opt.port)]
        if self._opt.isp_reply_from:
            address, port = self._opt.isp_reply_from
            endpoints.append(Endpoint("isp-alt", address, port))
        return endpoints

    def final_state(self) -> dict:
        return {"bootloader": "isp"}

    def on_datagram(self, datagram: Datagram, now: float) -> Outcome:
        if _is_frame(datagram.data):
            return self._frame(datagram)
        if self._opt.silent or self._opt.silent_bootloader:
            return Outcome("silent", details={"line": datagram.data.decode("latin-1")})
        received = datagram.data.decode("latin-1")
        text = self._partial + received
        *lines, self._partial = text.split("\n")
        details = {}
        if self._partial:
            details["problem"] = "line not ended in this datagram"
        if self._opt.strict:
            self._one_line_rule(received, text, now)
        kinds, answers = [], []
        for line in lines:
            if not line.endswith("\r"):
                details["problem"] = "line ended by LF alone"
            kind, lines_out = self._chip.take_line(line.rstrip("\r"), now)
            kinds.append(kind)
            answers += lines_out
            if kind != "DATA":
                details.setdefault("line", line.rstrip("\r"))
        details["command"] = " ".join(kinds) if kinds else None
        if answers:
            details["reply_text"] = [a.decode("latin-1") for a in answers]
        endpoint = "isp-alt" if self._opt.isp_reply_from else datagram.endpoint
        # One answer line per datagram.
        sends = [reply(datagram, a + b"\r\n", self._opt, endpoint) for a in answers]
        delay = self._chip.answer_delay(now) if sends else 0.0
        return Outcome("answered" if sends else "taken", sends, details, delay=delay)

    def _one_line_rule(self, received: str, text: str, now: float) -> None:
        """The bootloader takes one command or data line per datagram, ended by CR LF."""
        problem = None
        if text != received:
            problem = "the datagram ends a line begun in an earlier one"
        elif "\n" not in received:
            problem = "the line is not ended in this datagram"
        elif received.count("\n") > 1 or not received.endswith("\n"):
            problem = "more than one line in the datagram"
        elif not received.endswith("\r\n"):
            problem = "the line is ended by LF alone"
        if problem:
            self._chip.protocol_error(now, problem, received[:80])

    def _frame(self, datagram: Datagram) -> Outcome:
        req = wire.parse(datagram.data)
        outcome = Outcome("unanswered", details=frame_details(req))
        verdict, _ = screen(self._ctx, req)
        if verdict is not None:
            outcome.verdict = verdict
        elif req.table == wire.BROADCAST_TABLE and req.name in _BROADCAST_KEPT:
            if self._opt.silent:
                outcome.verdict = "silent"
            else:
                outcome.verdict = "answered"
                outcome.sends.append(reply(datagram, broadcast_answer(self._ctx.board, req),
                                           self._opt))
        return outcome
