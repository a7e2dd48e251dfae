#!/usr/bin/env python3
"""One emulated KOVA board on UDP port 5002.

Meant to run alone in its own network namespace, whose interface carries the
board's MAC address and IPv4 address. Python 3 standard library only.
"""

import sys

# The simulator runs from the source tree; it leaves no byte-code there.
sys.dont_write_bytecode = True

import argparse
import os
import random
import select
import signal
import socket
import struct
import time

import wire
from application import ApplicationMode
from board import (NEW_PLATFORM_CODE, OLD_PLATFORM_CODE, Board, load_eeprom,
                   model_name_bytes, parse_ipv4, parse_mac, parse_version)
from bootloader import BootloaderMode
from report import Report, hex_bytes

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
_PKTINFO = struct.Struct("=i4s4s")  # interface index, local address, header destination
_LIMITED_BROADCAST = "255.255.255.255"


def parse_options(argv):
    p = argparse.ArgumentParser(description="Plays one KOVA board on UDP port 5002.")
    p.add_argument("--mac", required=True, type=parse_mac, help="00:1A:2B:3C:4D:5E")
    p.add_argument("--ip", default=parse_ipv4("192.168.100.2"), type=parse_ipv4,
                   help="the address the ETH_REQ answer reports (default 192.168.100.2)")
    p.add_argument("--platform", choices=("old", "new"), default="new",
                   help="writes the platform check code into EEPROM 0xFE/0xFF")
    p.add_argument("--check-code", type=bytes.fromhex, metavar="HEX4",
                   help="EEPROM 0xFE/0xFF instead of the platform's code, e.g. FFFF")
    p.add_argument("--version", default=parse_version("1.7"), type=parse_version,
                   help="firmware version bytes MAJOR.MINOR (default 1.7 = 0x01 0x07)")
    p.add_argument("--model-name", default="KV-100", help="up to 16 ASCII characters")
    p.add_argument("--eeprom-file",
                   help="EEPROM content, at most 256 bytes (default: 00 01 02 ...)")
    p.add_argument("--port", type=int, default=5002)
    p.add_argument("--reboot-delay", type=float, default=0.5, metavar="SECONDS",
                   help="after acknowledging BOOTLOADER, run the bootloader this much later")
    p.add_argument("--answer-broadcast", action="store_true",
                   help="send every reply to 255.255.255.255 at the requester's port")
    p.add_argument("--silent", action="store_true", help="receive and record, answer nothing")
    p.add_argument("--ignore-first", action="append", default=[], metavar="KIND=N",
                   help="leave the first N requests of a kind unanswered (repeatable)")
    p.add_argument("--drop", type=float, default=0.0, metavar="SHARE",
                   help="lose this share (0..1) of the incoming datagrams")
    p.add_argument("--seed", type=int, default=1, help="seed of the drop decisions")
    p.add_argument("--report", help="JSON record of everything received, written at exit")
    p.add_argument("--ready-file", help="created once the port is bound")
    p.add_argument("--verbose", action="store_true", help="one line per datagram on stderr")
    opt = p.parse_args(argv)

    opt.ignore = {}
    for item in opt.ignore_first:
        kind, _, count = item.partition("=")
        if kind not in wire.COMMAND_NAMES or not count.isdigit():
            p.error("--ignore-first takes KIND=N with a command name, e.g. BOOTLOADER=2: " + item)
        opt.ignore[kind] = int(count)
    if not 0.0 <= opt.drop <= 1.0:
        p.error("--drop takes a share between 0 and 1")
    if opt.check_code is not None and len(opt.check_code) != 2:
        p.error("--check-code takes two bytes, e.g. AA55")
    try:
        opt.model_name = opt.model_name.encode("ascii")
    except UnicodeEncodeError:
        p.error("--model-name must be ASCII")
    if len(opt.model_name) > 16:
        p.error("--model-name holds at most 16 characters")
    return opt


def make_board(opt) -> Board:
    board = Board(mac=opt.mac, ip=opt.ip, version=opt.version, model_name=opt.model_name)
    if opt.eeprom_file:
        board.eeprom = load_eeprom(opt.eeprom_file)
    if opt.check_code is not None:
        board.set_check_code(opt.check_code)
    else:
        board.set_check_code(NEW_PLATFORM_CODE if opt.platform == "new" else OLD_PLATFORM_CODE)
    return board


class Simulator:
    def __init__(self, opt):
        self.opt = opt
        self.board = make_board(opt)
        self.mode = ApplicationMode(self.board, opt.ignore)
        self.reboot_at = None
        self.started = time.monotonic()
        self.random = random.Random(opt.seed)
        self.stopping = False
        self.report = Report(opt.report, {
            "mac": self.board.mac.hex(":").upper(),
            "ip": ".".join(str(b) for b in self.board.ip),
            "platform": opt.platform,
            "version": hex_bytes(self.board.version),
            "model_name": hex_bytes(model_name_bytes(self.board.model_name)),
            "eeprom": hex_bytes(bytes(self.board.eeprom)),
        })

    def final_state(self) -> dict:
        return {
            "mode": self.mode.name,
            "model_name": hex_bytes(model_name_bytes(self.board.model_name)),
        }

    def open_socket(self) -> socket.socket:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        sock.bind(("0.0.0.0", self.opt.port))
        return sock

    def run(self) -> None:
        sock = self.open_socket()
        wake_r, wake_w = socket.socketpair()
        wake_r.setblocking(False)
        wake_w.setblocking(False)
        signal.set_wakeup_fd(wake_w.fileno())
        for sig in (signal.SIGTERM, signal.SIGINT):
            signal.signal(sig, self._on_signal)
        if self.opt.ready_file:
            with open(self.opt.ready_file, "w", encoding="ascii") as f:
                f.write("%d\n" % os.getpid())
        try:
            while not self.stopping:
                self._enter_bootloader_when_due()
                timeout = None
                if self.reboot_at is not None:
                    timeout = max(0.0, self.reboot_at - time.monotonic())
                readable, _, _ = select.select([sock, wake_r], [], [], timeout)
                if wake_r in readable:
                    wake_r.recv(64)
                if sock in readable:
                    self._receive(sock)
        finally:
            signal.set_wakeup_fd(-1)
            self.report.write(self.final_state())
            sock.close()

    def _on_signal(self, signum, frame):
        del signum, frame
        self.stopping = True

    def _enter_bootloader_when_due(self) -> None:
        if self.reboot_at is not None and time.monotonic() >= self.reboot_at:
            self.reboot_at = None
            self.mode = BootloaderMode(self.opt.platform)
            self._log("rebooted into the bootloader")

    def _receive(self, sock: socket.socket) -> None:
        data, ancillary, _, sender = sock.recvmsg(65536, socket.CMSG_SPACE(_PKTINFO.size))
        ifindex, destination = 0, None
        for level, kind, value in ancillary:
            if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(value) >= _PKTINFO.size:
                ifindex, _, header_destination = _PKTINFO.unpack(value[:_PKTINFO.size])
                destination = socket.inet_ntoa(header_destination)
        entry = {
            "t": round(time.monotonic() - self.started, 4),
            "from": "%s:%d" % sender,
            "to": destination,
            "mode": self.mode.name,
            "hex": hex_bytes(data),
        }
        if self.opt.drop > 0 and self.random.random() < self.opt.drop:
            entry["outcome"] = "dropped"
            self._record(entry)
            return
        # Decoded for the report in either mode: a command that reaches the
        # bootloader is worth seeing too.
        req = wire.parse(data)
        entry.update(command=req.name, args=hex_bytes(req.args),
                     mac=req.mac.hex(":").upper() if req.mac else None)
        if req.problem:
            entry["problem"] = req.problem
        if isinstance(self.mode, BootloaderMode):
            outcome = self.mode.handle_datagram(data)
        else:
            outcome = self.mode.handle(req)
        entry["outcome"] = outcome.verdict
        if outcome.reply is not None:
            if self.opt.silent:
                entry["outcome"] = "silent"
            else:
                entry["reply"] = hex_bytes(outcome.reply)
                try:
                    entry["reply_to"] = self._send(sock, outcome.reply, sender, ifindex)
                except OSError as error:
                    entry["outcome"] = "send failed: %s" % error.strerror
        answered = entry["outcome"] == "answered"
        if outcome.reboot_to_bootloader and answered and self.reboot_at is None:
            self.reboot_at = time.monotonic() + self.opt.reboot_delay
        self._record(entry)

    def _send(self, sock: socket.socket, reply: bytes, sender, ifindex: int) -> str:
        if not self.opt.answer_broadcast:
            sock.sendto(reply, sender)
            return "%s:%d" % sender
        # The namespace has no default route: the limited broadcast leaves
        # through the interface the request came in on.
        pktinfo = _PKTINFO.pack(ifindex, bytes(4), bytes(4))
        sock.sendmsg([reply], [(socket.IPPROTO_IP, IP_PKTINFO, pktinfo)], 0,
                     (_LIMITED_BROADCAST, sender[1]))
        return "%s:%d" % (_LIMITED_BROADCAST, sender[1])

    def _record(self, entry: dict) -> None:
        self.report.add(**entry)
        self._log("%s -> %s %s %s: %s" % (entry["from"], entry["to"], entry.get("command") or "-",
                                           entry.get("args") or "", entry["outcome"]))

    def _log(self, text: str) -> None:
        if self.opt.verbose:
            print("board-sim %8.3f  %s" % (time.monotonic() - self.started, text), file=sys.stderr,
                  flush=True)


def main(argv) -> int:
    opt = parse_options(argv)
    try:
        sim = Simulator(opt)
    except (OSError, ValueError) as error:
        print("board-sim: %s" % error, file=sys.stderr)
        return 2
    try:
        sim.run()
    except OSError as error:
        print("board-sim: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
