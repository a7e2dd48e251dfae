"""The new platform's network bootloader: BOOTP for an address, TFTP for the image.

The application restarts into it on a magic packet carrying the board's MAC
(then it asks for an address at once) or on the BOOTLOADER command. Entered
by the command, or started in it, it has nothing to ask for yet and waits
for a magic packet first, as a board does whose server is not up.
"""

import hashlib
import random
import socket
import struct
from typing import List, Optional, Tuple

import wire
from modes import COMMAND, Datagram, Endpoint, Mode, Outcome, Send, Switch, frame_details

MAGIC_PORT = 9
BOOTP_SERVER_PORT = 67
BOOTP_CLIENT_PORT = 68
TFTP_PORT = 69
BOOTP_SIZE = 300
BOOTP_MIN_SIZE = 236  # the fixed fields, up to the vendor area
TFTP_BLOCK = 512
# Time-outs in seconds before --time-scale: BOOTP backs off up to its cap.
BOOTP_TIMEOUT = 1.0
BOOTP_TIMEOUT_CAP = 4.0
TFTP_TIMEOUT = 2.0
# Unanswered TFTP retransmissions before asking for an address again.
TFTP_RETRIES = 5
# The strict board as the chip's boot loader does it: BOOTP backs off up to a
# minute; after 4 s of silence the transfer starts again with a new request,
# three times before BOOTP again; the application starts a moment after the
# last acknowledgement.
STRICT_BOOTP_TIMEOUT_CAP = 60.0
STRICT_TFTP_TIMEOUT = 4.0
STRICT_TFTP_RETRIES = 3
STRICT_RESTART_DELAY = 0.25

RRQ, DATA, ACK, ERROR = 1, 3, 4, 5
_UNKNOWN_TID = 5

# Both endpoints are declared the same way by the application, so that the
# socket stays open across the restart.
MAGIC_ENDPOINT = Endpoint("magic", port=MAGIC_PORT)
BOOTP_ENDPOINT = Endpoint("bootp", port=BOOTP_CLIENT_PORT, pinned=True)


def magic_verdict(data: bytes, mac: bytes) -> str:
    """Six 0xAA bytes, then the MAC four times."""
    if len(data) != 30 or data[:6] != b"\xaa" * 6:
        return "not-magic"
    return "magic" if data[6:] == mac * 4 else "other-mac"


def bootp_request(xid: int, chaddr: bytes, chip: str, secs: int) -> bytes:
    message = bytearray(BOOTP_SIZE)
    message[0:4] = bytes([1, 1, 6, 0])  # request, Ethernet, 6-byte address, no hops
    struct.pack_into(">IHH", message, 4, xid, min(secs, 0xFFFF), 0x8000)  # broadcast answer
    message[28:34] = chaddr
    name = chip.encode("ascii")
    message[44:44 + len(name)] = name
    message[236:241] = b"\x63\x82\x53\x63\xff"  # the vendor area's cookie, then its end
    return bytes(message)


def _text(field: bytes) -> str:
    return field.partition(b"\0")[0].decode("latin-1")


def read_bootp_reply(data: bytes, xid: int, chaddr: bytes) -> Tuple[str, dict]:
    """The verdict on a datagram that came to the BOOTP client port, and what it says."""
    if len(data) < BOOTP_MIN_SIZE or data[0] != 2:
        return "not-a-reply", {}
    facts = {"yiaddr": socket.inet_ntoa(data[16:20]), "siaddr": socket.inet_ntoa(data[20:24]),
             "sname": _text(data[44:108]), "file": _text(data[108:236])}
    if struct.unpack(">I", data[4:8])[0] != xid:
        return "other-xid", facts
    if data[28:34] != chaddr:
        return "other-mac", facts
    if facts["yiaddr"] == "0.0.0.0" or facts["siaddr"] == "0.0.0.0":
        return "no-address", facts
    return "taken", facts


def tftp_rrq(name: str) -> bytes:
    return struct.pack(">H", RRQ) + name.encode("latin-1") + b"\0octet\0"


def tftp_ack(block: int) -> bytes:
    return struct.pack(">HH", ACK, block & 0xFFFF)


def tftp_error(code: int, text: str) -> bytes:
    return struct.pack(">HH", ERROR, code) + text.encode("ascii") + b"\0"


class NetbootRecord:
    """What the network bootloader got; outlives the mode."""

    def __init__(self, opt, slot=None):
        self.opt = opt
        self.slot = slot
        self.xids = random.Random("xid %d" % opt.seed)
        self.state = "not run"
        self.magic_packets = 0
        self.bootp_requests = 0
        self.bootp_replies = []
        self.lease = None  # the reply taken: yiaddr, siaddr, file
        self.server = None  # the TFTP server's address and port
        self.rrq_sent = 0
        self.image = bytearray()
        self.blocks = 0
        self.duplicates = 0
        self.out_of_order = 0
        self.errors = []
        self.complete = False
        self.transfer_restarts = 0
        self.foreign_data = 0

    def write_image_file(self) -> None:
        if self.opt.image_file and self.state != "not run":
            with open(self.opt.image_file, "wb") as f:
                f.write(self.image)

    def report(self) -> dict:
        return {
            "state": self.state,
            "magic_packets": self.magic_packets,
            "bootp_requests": self.bootp_requests,
            "bootp_replies": self.bootp_replies,
            "address": self.lease["yiaddr"] if self.lease else None,
            "server": self.lease["siaddr"] if self.lease else None,
            "file": self.lease["file"] if self.lease else None,
            "tftp_server": "%s:%d" % self.server if self.server else None,
            "rrq_sent": self.rrq_sent,
            "blocks": self.blocks,
            "duplicates": self.duplicates,
            "out_of_order": self.out_of_order,
            "errors": self.errors,
            "complete": self.complete,
            "transfer_restarts": self.transfer_restarts,
            "foreign_data": self.foreign_data,
            "image_bytes": len(self.image),
            "image_sha256": hashlib.sha256(self.image).hexdigest(),
            "image_file": self.opt.image_file,
        }


class NetworkBootloaderMode(Mode):
    name = "bootloader"

    def __init__(self, ctx, reason: str, now: float):
        self._opt = ctx.opt
        self._mac = ctx.board.mac
        self._chaddr = ctx.opt.bootp_mac or ctx.board.mac
        self._rec = ctx.netboot
        self._deadline: Optional[float] = None
        self._xid = 0
        self._bootp_started = 0.0
        self._bootp_wait = 0.0
        self._peer: Optional[Tuple[str, int]] = None  # the TFTP server's transfer port
        self._next_block = 1
        self._retries = 0
        self._strict = ctx.opt.strict
        self._bootp_cap = STRICT_BOOTP_TIMEOUT_CAP if self._strict else BOOTP_TIMEOUT_CAP
        self._tftp_timeout = STRICT_TFTP_TIMEOUT if self._strict else TFTP_TIMEOUT
        self._rec.state = "waiting"
        # Without a valid application the bootloader asks for an address at once.
        if reason == "magic" or (reason == "power cycle" and ctx.slot.state == "broken"):
            self._after_magic(now)

    def endpoints(self) -> List[Endpoint]:
        endpoints = [Endpoint(COMMAND, port=self._opt.port), MAGIC_ENDPOINT, BOOTP_ENDPOINT]
        if self._rec.state in ("tftp", "done"):
            endpoints.append(Endpoint("tftp", self._rec.lease["yiaddr"]))
        return endpoints

    def interface_address(self) -> Optional[str]:
        if self._opt.keep_address:
            return None
        return self._rec.lease["yiaddr"] if self._rec.state in ("tftp", "done") else ""

    def deadline(self) -> Optional[float]:
        return self._deadline

    def final_state(self) -> dict:
        return {"bootloader": "network"}

    def on_timer(self, now: float) -> Outcome:
        if self._deadline is None or now < self._deadline:
            return Outcome("idle")
        if self._rec.state == "done":
            self._deadline = None
            return Outcome("restarted", switch=Switch("power-on", "restart"))
        if self._rec.state == "bootp":
            return Outcome("bootp", [self._bootp(now)])
        self._retries += 1
        if self._retries > (STRICT_TFTP_RETRIES if self._strict else TFTP_RETRIES):
            self._rec.errors.append({"t": round(now, 4), "error": "no answer from the server"})
            self._start_bootp(now)
            return Outcome("restarted")
        self._deadline = now + self._tftp_timeout * self._opt.time_scale
        if self._strict:
            # The transfer starts again from its first block.
            self._rec.transfer_restarts += 1
            self._peer, self._next_block = None, 1
            return Outcome("retransmitted", [self._rrq()])
        if self._peer is None:
            return Outcome("retransmitted", [self._rrq()])
        return Outcome("retransmitted", [self._send_tftp(tftp_ack(self._next_block - 1), "ack")])

    def on_datagram(self, datagram: Datagram, now: float) -> Outcome:
        if datagram.endpoint == MAGIC_ENDPOINT.name:
            return self._magic(datagram.data, now)
        if datagram.endpoint == BOOTP_ENDPOINT.name:
            return self._bootp_reply(datagram, now)
        if datagram.endpoint == "tftp":
            return self._tftp(datagram, now)
        # The bootloader does not speak the maintenance commands.
        return Outcome("unanswered", details=frame_details(wire.parse(datagram.data)))

    def _magic(self, data: bytes, now: float) -> Outcome:
        verdict = magic_verdict(data, self._mac)
        details = {"command": "MAGIC"}
        if verdict != "magic":
            return Outcome(verdict, details=details)
        self._rec.magic_packets += 1
        if self._rec.state != "waiting":
            return Outcome("ignored", details=details)
        self._after_magic(now)
        return Outcome(self._rec.state, details=details)

    def _after_magic(self, now: float) -> None:
        if self._opt.silent or self._opt.silent_bootloader:
            self._rec.state = "silent"
            return
        self._bootp_started = now
        self._start_bootp(now)

    def _start_bootp(self, now: float) -> None:
        """A new request (new xid) goes out at once, from the timer."""
        self._rec.state = "bootp"
        self._xid = self._rec.xids.getrandbits(32)
        self._bootp_wait = BOOTP_TIMEOUT
        self._peer, self._next_block, self._retries = None, 1, 0
        # The read starts over from block 1: what an abandoned read left is
        # written over, not kept in front of the new one.
        self._rec.image = bytearray()
        self._deadline = now

    def _bootp(self, now: float) -> Send:
        self._rec.bootp_requests += 1
        self._deadline = now + self._bootp_wait * self._opt.time_scale
        self._bootp_wait = min(self._bootp_wait * 2, self._bootp_cap)
        request = bootp_request(self._xid, self._chaddr, self._opt.chip,
                                int(now - self._bootp_started))
        return Send(request, ("255.255.255.255", BOOTP_SERVER_PORT), BOOTP_ENDPOINT.name,
                    kind="bootp-request")

    def _bootp_reply(self, datagram: Datagram, now: float) -> Outcome:
        verdict, facts = read_bootp_reply(datagram.data, self._xid, self._chaddr)
        if verdict == "taken" and self._rec.state != "bootp":
            verdict = "late"
        self._rec.bootp_replies.append(dict(t=round(now, 4), verdict=verdict,
                                            sender="%s:%d" % datagram.sender, **facts))
        details = dict(command="BOOTP-REPLY", **facts)
        if verdict != "taken":
            return Outcome(verdict, details=details)
        self._rec.lease = facts
        self._rec.state = "tftp"
        self._deadline = now + self._tftp_timeout * self._opt.time_scale
        return Outcome("taken", [self._rrq()], details)

    def _rrq(self) -> Send:
        self._rec.rrq_sent += 1
        return Send(tftp_rrq(self._rec.lease["file"]), (self._rec.lease["siaddr"], TFTP_PORT),
                    "tftp", kind="tftp-rrq")

    def _send_tftp(self, data: bytes, kind: str, to=None) -> Send:
        return Send(data, to or self._peer, "tftp", kind="tftp-" + kind)

    def _tftp(self, datagram: Datagram, now: float) -> Outcome:
        data, sender = datagram.data, datagram.sender
        if len(data) < 4:
            return Outcome("malformed")
        opcode, block = struct.unpack(">HH", data[:4])
        details = {"command": {DATA: "DATA", ERROR: "ERROR"}.get(opcode, "TFTP %d" % opcode),
                   "block": block}
        if sender[0] != self._rec.lease["siaddr"]:
            return Outcome("other-server", details=details)
        if opcode == ERROR:
            self._rec.errors.append({"t": round(now, 4), "code": block,
                                     "error": _text(data[4:])})
            if self._rec.state == "done":
                return Outcome("ignored", details=details)
            self._start_bootp(now)
            return Outcome("restarted", details=details)
        if opcode != DATA:
            return Outcome("unexpected", details=details)
        if self._strict and self._peer is not None and sender != self._peer:
            # Only the transfer's own port is listened to.
            self._rec.foreign_data += 1
            return Outcome("foreign-port", details=details)
        if self._strict and self._peer is None and block != 1:
            self._rec.foreign_data += 1
            return Outcome("foreign-port", details=details)
        if self._peer is None or (sender != self._peer and block == 1 and self._next_block <= 2):
            # A first answer, or the server's answer to a repeated request.
            self._peer = sender
            self._rec.server = sender
        elif sender != self._peer:
            return Outcome("other-tid", [self._send_tftp(
                tftp_error(_UNKNOWN_TID, "Unknown transfer ID"), "error", sender)], details)
        if block == (self._next_block - 1) & 0xFFFF and self._next_block > 1:
            self._rec.duplicates += 1
            return Outcome("duplicate", [self._send_tftp(tftp_ack(block), "ack")], details)
        if self._rec.state != "tftp" or block != self._next_block & 0xFFFF:
            self._rec.out_of_order += 1
            return Outcome("out-of-order", details=details)
        if self._next_block == 1:
            # A transfer (again) from its start: what an earlier one left goes.
            self._rec.image = bytearray()
            if self._rec.slot is not None:
                self._rec.slot.started()
        self._rec.image += data[4:]
        self._rec.blocks += 1
        self._next_block += 1
        self._retries = 0
        self._deadline = now + self._tftp_timeout * self._opt.time_scale
        if len(data) - 4 < TFTP_BLOCK:
            self._rec.state = "done"
            self._rec.complete = True
            self._deadline = (now + STRICT_RESTART_DELAY * self._opt.time_scale
                              if self._strict else None)
            self._rec.write_image_file()
            if self._rec.slot is not None:
                self._rec.slot.completed()
        return Outcome("taken", [self._send_tftp(tftp_ack(block), "ack")], details)
