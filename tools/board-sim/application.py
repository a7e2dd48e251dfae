"""The board's running application: answers the maintenance commands and
takes a remote update."""

import string
from typing import List, Optional, Tuple

import wire
from board import Board, model_name_bytes
from modes import COMMAND, Datagram, Endpoint, Mode, Outcome, Switch, frame_details, reply
from netboot import MAGIC_ENDPOINT, magic_verdict

# Broadcast commands that only need an acknowledgement.
_ACKNOWLEDGED = {"SET_DHCPMODE", "SET_IPADR", "RESET", "BOOTLOADER", "E2P_DEFAULT"}


def broadcast_answer(board: Board, req: wire.Request) -> Optional[bytes]:
    """The answer to a well-formed broadcast request for this board, if it has one."""
    table, code = wire.BROADCAST_TABLE, req.code
    if req.name == "ETH_REQ":
        return wire.frame(table, code, board.identity_payload())
    if req.name == "FWVER_REQ":
        return wire.frame(table, code, board.version)
    if req.name == "E2P_READ":
        return wire.frame(table, code, board.read_eeprom(req.args[0], req.args[1]))
    if req.name in _ACKNOWLEDGED:
        return wire.ack(table, code)
    return None


def for_this_board(board: Board, req: wire.Request) -> bool:
    for_anyone = req.table != wire.BROADCAST_TABLE or req.name == "ETH_REQ"
    return for_anyone or req.mac == board.mac


def screen(ctx, req: wire.Request) -> Tuple[Optional[str], int]:
    """Why the board does not take a request (None when it does), and how many
    requests of its kind have come for this board, this one included."""
    if req.problem is not None:
        return "malformed", 0
    if not for_this_board(ctx.board, req):
        return "other-mac", 0
    seen = ctx.count(req.name)
    if seen <= ctx.opt.ignore.get(req.name, 0) or seen in ctx.opt.ignore_at.get(req.name, ()):
        return "ignored", seen
    return None, seen


def srecord_problem(line: str) -> Optional[str]:
    """What is wrong with one Motorola S-record line, or None."""
    if len(line) < 4 or line[0] != "S" or not line[1].isdigit():
        return "not an S-record"
    digits = line[2:]
    if any(c not in string.hexdigits for c in digits):
        return "not hexadecimal"
    if len(digits) % 2:
        return "odd number of hexadecimal digits"
    data = bytes.fromhex(digits)
    if data[0] != len(data) - 1:
        return "count %d, %d bytes follow" % (data[0], len(data) - 1)
    if sum(data) & 0xFF != 0xFF:
        return "checksum %02X, expected %02X" % (data[-1], ~sum(data[:-1]) & 0xFF)
    return None


def is_end_record(line: str) -> bool:
    return line[:2] in ("S7", "S8", "S9") and srecord_problem(line) is None


class RemoteUpdate:
    """What the application received of a remote update; outlives the mode."""

    def __init__(self, slot=None):
        self.slot = slot
        self.lines = []
        self.bad_lines = []
        # The number of lines received when each command came.
        self.erases = []
        self.updates = []
        self.polls = 0
        self.erased = False  # an erase since the last update: lines may come
        self.ended = False  # an end record since that erase: the update may come
        self.protocol_errors = []

    def erase(self) -> None:
        self.erases.append(len(self.lines))
        self.erased, self.ended = True, False

    def take_line(self, line: str) -> None:
        problem = srecord_problem(line)
        if problem:
            self.bad_lines.append({"index": len(self.lines), "line": line, "problem": problem})
        self.lines.append(line)
        if self.erased and not self.ended and is_end_record(line):
            self.ended = True

    def update(self) -> None:
        """The board writes what it received: a whole file makes new firmware."""
        self.updates.append(len(self.lines))
        if self.ended and self.slot is not None:
            self.slot.completed()
        self.erased = self.ended = False

    def out_of_order(self, name: str, now: float) -> Optional[str]:
        """Why the strict board refuses this command now, recorded; None: it takes it."""
        problem = None
        if name == "SEND_FILE" and not self.erased:
            problem = "a line before REMOTE_ERASE"
        elif name == "SEND_FILE" and self.ended:
            problem = "a line after the end record"
        elif name == "REMOTE_UPDATE" and not self.ended:
            problem = "REMOTE_UPDATE before an end record"
        if problem:
            self.protocol_errors.append({"t": round(now, 4), "command": name,
                                         "problem": problem})
        return problem

    def report(self) -> dict:
        return {"erases": self.erases, "lines": self.lines, "bad_lines": self.bad_lines,
                "updates": self.updates, "polls": self.polls,
                "protocol_errors": self.protocol_errors}


class ApplicationMode(Mode):
    name = "application"

    def __init__(self, ctx):
        self._ctx = ctx
        self._board = ctx.board
        self._reboot_at = None
        self._reboot_reason = None
        self._reboot_target = "bootloader"
        # The strict board writes its flash after REMOTE_UPDATE and then restarts:
        # meanwhile it answers nothing.
        self._updating = False

    def endpoints(self) -> List[Endpoint]:
        endpoints = [Endpoint(COMMAND, port=self._ctx.opt.port)]
        if self._ctx.opt.platform == "new":
            endpoints.append(MAGIC_ENDPOINT)
        return endpoints

    def deadline(self) -> Optional[float]:
        return self._reboot_at

    def on_timer(self, now: float) -> Outcome:
        if self._reboot_at is None or now < self._reboot_at:
            return Outcome("idle")
        self._reboot_at = None
        return Outcome("rebooted", switch=Switch(self._reboot_target, self._reboot_reason))

    def _reboot(self, now: float, reason: str) -> None:
        if self._reboot_at is None:
            self._reboot_at = now + self._ctx.opt.reboot_delay
            self._reboot_reason = reason

    def on_datagram(self, datagram: Datagram, now: float) -> Outcome:
        if self._updating:
            return Outcome("restarting", details=frame_details(wire.parse(datagram.data))
                           if datagram.endpoint == COMMAND else {"command": "MAGIC"})
        if datagram.endpoint == MAGIC_ENDPOINT.name:
            verdict = magic_verdict(datagram.data, self._board.mac)
            if verdict == "magic":
                verdict = "taken"
                self._reboot(now, "magic")
            return Outcome(verdict, details={"command": "MAGIC"})
        req = wire.parse(datagram.data)
        verdict, answer = self._answer(req, now)
        outcome = Outcome(verdict, details=frame_details(req))
        if answer is None:
            return outcome
        if self._ctx.opt.silent:
            outcome.verdict = "silent"
            return outcome
        outcome.sends.append(reply(datagram, answer, self._ctx.opt))
        if req.name == "BOOTLOADER" and verdict == "answered":
            self._reboot(now, "command")
        if req.name == "REMOTE_UPDATE" and verdict == "answered" and self._ctx.opt.strict:
            self._updating = True
            self._reboot_at = now + self._ctx.opt.update_time * self._ctx.opt.time_scale
            self._reboot_target, self._reboot_reason = "power-on", "restart"
        return outcome

    def _answer(self, req: wire.Request, now: float) -> Tuple[str, Optional[bytes]]:
        verdict, seen = screen(self._ctx, req)
        if verdict is not None:
            return verdict, None
        if seen in self._ctx.opt.refuse_at.get(req.name, ()):
            return "refused", wire.frame(req.table, req.code, bytes([wire.NAK]))
        if (self._ctx.opt.strict and req.table == wire.UNICAST_TABLE
                and self._ctx.remote.out_of_order(req.name, now)):
            return "out-of-order", wire.frame(req.table, req.code, bytes([wire.NAK]))
        if req.table == wire.BROADCAST_TABLE:
            answer = broadcast_answer(self._board, req)
        elif req.name == "CHECK_REMOTE_UPDATE":
            # Not finished yet: the host polls again after its time-out.
            self._ctx.remote.polls = seen
            if seen < self._ctx.opt.update_done_poll:
                return "busy", None
            answer = wire.ack(req.table, req.code)
        else:
            answer = self._unicast(req)
        return ("unanswered", None) if answer is None else ("answered", answer)

    def _unicast(self, req: wire.Request) -> Optional[bytes]:
        table, code = wire.UNICAST_TABLE, req.code
        if req.name == "GET_MODELNAME":
            return wire.frame(table, code, model_name_bytes(self._board.model_name))
        if req.name == "SET_MODELNAME":
            self._board.model_name = bytes(req.args)
            return wire.ack(table, code)
        if req.name == "GET_E2P256":
            return wire.frame(table, code, bytes(self._board.eeprom))
        remote = self._ctx.remote
        if req.name == "REMOTE_ERASE":
            remote.erase()
            return wire.ack(table, code)
        if req.name == "SEND_FILE":
            remote.take_line(req.args.decode("latin-1"))
            return wire.ack(table, code)
        if req.name == "REMOTE_UPDATE":
            remote.update()
            return wire.ack(table, code)
        return None



class SilentMode(Mode):
    """The board after a restart into firmware that never comes up (--no-return):
    it hears everything and answers nothing."""

    name = "silent"

    def __init__(self, ctx):
        self._ctx = ctx

    def endpoints(self) -> List[Endpoint]:
        return ApplicationMode(self._ctx).endpoints()

    def on_datagram(self, datagram: Datagram, now: float) -> Outcome:
        del now
        if datagram.endpoint != COMMAND:
            return Outcome("silent", details={"command": "MAGIC"})
        return Outcome("silent", details=frame_details(wire.parse(datagram.data)))
