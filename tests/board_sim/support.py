"""Shared by the simulator's unit tests: its modules, options and requests."""

import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "board-sim"))

from modes import COMMAND, Datagram  # noqa: E402
from options import parse_options  # noqa: E402
from transitions import Context, enter  # noqa: E402

MAC = bytes.fromhex("001A2B3C4D5E")
OTHER_MAC = bytes.fromhex("001A2B3C4D5F")
HOST = ("192.168.100.1", 40000)


def options(*argv):
    return parse_options(["--mac", MAC.hex(":")] + list(argv))


def start(mode, *argv, now=0.0):
    """A context from these options and the mode it enters."""
    ctx = Context(options(*argv))
    return ctx, enter(mode, "start", ctx, now)


def request(table, code, word, args=b"", mac=None):
    body = (mac or b"") + word.encode("ascii") + args
    return struct.pack(">H", 4 + len(body)) + bytes([table, code]) + body


def bcast(code, word, args=b"", mac=MAC):
    return request(0x80, code, word, args, mac)


def ucast(code, word, args=b""):
    return request(0x81, code, word, args)


def datagram(data, endpoint=COMMAND, sender=HOST):
    return Datagram(endpoint, data, sender, "255.255.255.255", 3)


def replies(outcome):
    return [s.data.hex().upper() for s in outcome.sends]
