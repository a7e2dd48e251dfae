"""Requests and replies as a KOVA board sees them on UDP port 5002.

Written from the board's side of the wire: a request is
[length, 2 bytes big-endian, counting itself][table][code][text with argument
bytes]; a reply is [length][table][code][payload].
"""

import struct
from dataclasses import dataclass
from typing import Optional

BROADCAST_TABLE = 0x80
UNICAST_TABLE = 0x81
ACK = 0x06
NAK = 0x15

# code -> (command word, argument bytes after the word). Every broadcast
# request but ETH_REQ names its target by the 6-byte MAC before the word.
BROADCAST_COMMANDS = {
    0x00: ("ETH_REQ", 0),
    0x01: ("FWVER_REQ", 0),
    0x02: ("SET_DHCPMODE", 0),
    0x03: ("SET_IPADR", 8),
    0x04: ("RESET", 0),
    0x05: ("BOOTLOADER", 0),
    0x06: ("E2P_DEFAULT", 0),
    0x07: ("E2P_READ", 2),
}

# Unicast arguments may come short: the sender ends them early with a 0xFF
# that it does not send.
UNICAST_COMMANDS = {
    0x00: ("ETH_REQ", 0),
    0x01: ("FWVER_REQ", 0),
    0x02: ("SET_DHCPMODE", 1),
    0x03: ("SET_IPADR", 8),
    0x04: ("RESET", 0),
    0x05: ("RD_E2P", 1),
    0x06: ("WR_E2P", 2),
    0x07: ("RD_IFLASH", 4),
    0x08: ("BOOTLOADER", 0),
    0x09: ("SET_DHCPNAME", 16),
    0x0A: ("SET_MACADR", 6),
    0x0B: ("SET_NETMASK", 4),
    0x0C: ("SET_GATEWAY", 4),
    0x0D: ("SET_PRIDNS", 4),
    0x0E: ("SET_SECDNS", 4),
    0x0F: ("INIT_E2P", 43),
    0x10: ("ERASE_E2P", 0),
    0x11: ("GET_BLVER", 0),
    0x12: ("CHECK_E2P", 0),
    0x13: ("GET_TITLENAME", 0),
    0x14: ("GET_CHECKCODE", 0),
    0x15: ("GET_DHCPMODE", 0),
    0x16: ("GET_DHCPNAME", 0),
    0x17: ("GET_IPADR", 0),
    0x18: ("GET_MACADR", 0),
    0x19: ("GET_GATEWAY", 0),
    0x1A: ("GET_NETMASK", 0),
    0x1B: ("GET_PRIDNS", 0),
    0x1C: ("GET_SECDNS", 0),
    0x1D: ("GET_E2P256", 0),
    0x1E: ("GET_DHCPSTATUS", 0),
    0x1F: ("GET_MODELNAME", 0),
    0x20: ("SET_MODELNAME", 16),
    0xF1: ("REMOTE_ERASE", 0),
    0xF2: ("SEND_FILE", 73),
    0xF3: ("REMOTE_UPDATE", 0),
    0xF4: ("CHECK_REMOTE_UPDATE", 0),
}

COMMAND_NAMES = sorted(
    {word for word, _ in BROADCAST_COMMANDS.values()}
    | {word for word, _ in UNICAST_COMMANDS.values()})


@dataclass
class Request:
    table: Optional[int] = None
    code: Optional[int] = None
    name: Optional[str] = None
    mac: Optional[bytes] = None
    args: bytes = b""
    problem: Optional[str] = None  # why the board cannot take it; None: well formed


def parse(datagram: bytes) -> Request:
    """Decodes one datagram; a malformed one comes back with `problem` set."""
    req = Request()
    if len(datagram) < 4:
        req.problem = "shorter than a frame header"
        return req
    length = struct.unpack(">H", datagram[:2])[0]
    req.table, req.code = datagram[2], datagram[3]
    if req.table == BROADCAST_TABLE:
        table = BROADCAST_COMMANDS
    elif req.table == UNICAST_TABLE:
        table = UNICAST_COMMANDS
    else:
        req.problem = "unknown table 0x%02X" % req.table
        return req
    if req.code not in table:
        req.problem = "unknown code 0x%02X" % req.code
        return req
    word, arg_count = table[req.code]
    req.name = word
    if length != len(datagram):
        req.problem = "length field %d, datagram %d bytes" % (length, len(datagram))
        return req
    pos = 4
    if req.table == BROADCAST_TABLE and word != "ETH_REQ":
        req.mac = datagram[pos:pos + 6]
        pos += 6
    text = datagram[pos:pos + len(word)]
    if text != word.encode("ascii"):
        req.problem = "command word %r does not match its code" % text
        return req
    req.args = datagram[pos + len(word):]
    if req.table == BROADCAST_TABLE:
        argument_count_ok = len(req.args) == arg_count and (req.mac is None or len(req.mac) == 6)
    else:
        argument_count_ok = len(req.args) <= arg_count
    if not argument_count_ok:
        req.problem = "%d argument bytes where %d belong" % (len(req.args), arg_count)
    return req


def frame(table: int, code: int, payload: bytes) -> bytes:
    return struct.pack(">H", 4 + len(payload)) + bytes([table, code]) + payload


def ack(table: int, code: int) -> bytes:
    return frame(table, code, bytes([ACK]))
