#!/usr/bin/env python3
"""One emulated KOVA board: its application, its bootloader and the switches
between them.

Meant to run alone in its own network namespace, whose one interface carries
the board's MAC address and IPv4 address. Python 3 standard library (and the
`ip` command, for the network bootloader's address).
"""

import sys

# The simulator runs from the source tree; it leaves no byte-code there.
sys.dont_write_bytecode = True

import os
import random
import select
import signal
import socket
import struct
import time

from board import model_name_bytes
from modes import COMMAND, Datagram, Endpoint, Outcome, Switch
from netif import InterfaceAddress
from options import parse_options
from report import Report, hex_bytes
from transitions import Context, enter

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
SO_BINDTODEVICE = getattr(socket, "SO_BINDTODEVICE", 25)
_PKTINFO = struct.Struct("=i4s4s")  # interface index, local address, header destination
# Longer datagrams are reported by their head only.
_REPORTED_BYTES = 128


class Simulator:
    def __init__(self, opt):
        self.opt = opt
        self.ctx = Context(opt)
        self.started = time.monotonic()
        # A stream of drop decisions for each socket, so that what one socket
        # loses does not hang on how many datagrams another one saw first
        # (the magic packets and BOOTP requests before a transfer vary with
        # the pace of the machine); the command socket's are the first ones.
        self.drops = {COMMAND: random.Random(opt.seed)}
        self.sent_drops = {COMMAND: random.Random("sent %d" % opt.seed)}
        self.sent_twice = random.Random("twice %d" % opt.seed)
        self.late_left = opt.late_first[0]
        self.late = []  # (when, Send): answers held back by --late-first
        self.stopping = False
        self.power_cycles_due = 0  # SIGUSR1 received, not yet acted on
        self.sockets = {}  # Endpoint -> socket
        self.address = None  # the interface's address, once a mode manages it
        board = self.ctx.board
        self.report = Report(opt.report, {
            "mac": board.mac.hex(":").upper(),
            "ip": ".".join(str(b) for b in board.ip),
            "platform": opt.platform,
            "version": hex_bytes(board.version),
            "model_name": hex_bytes(model_name_bytes(board.model_name)),
            "eeprom": hex_bytes(bytes(board.eeprom)),
        })
        self.mode = None
        self._switch(Switch(opt.start_in, "start"))

    def now(self) -> float:
        return time.monotonic() - self.started

    def final_state(self) -> dict:
        state = {"mode": self.mode.name,
                 "model_name": hex_bytes(model_name_bytes(self.ctx.board.model_name))}
        state.update(self.mode.final_state())
        return state

    def run(self) -> None:
        wake_r, wake_w = socket.socketpair()
        wake_r.setblocking(False)
        wake_w.setblocking(False)
        signal.set_wakeup_fd(wake_w.fileno())
        for sig in (signal.SIGTERM, signal.SIGINT):
            signal.signal(sig, self._on_signal)
        signal.signal(signal.SIGUSR1, self._on_power_cycle)
        try:
            self._reconcile()
            if self.opt.ready_file:
                with open(self.opt.ready_file, "w", encoding="ascii") as f:
                    f.write("%d\n" % os.getpid())
            while not self.stopping:
                deadline = self.mode.deadline()
                if self.late:
                    deadline = min(d for d in (deadline, self.late[0][0]) if d is not None)
                timeout = None if deadline is None else max(0.0, deadline - self.now())
                by_socket = {s: ep for ep, s in self.sockets.items()}
                readable, _, _ = select.select(list(by_socket) + [wake_r], [], [], timeout)
                if wake_r in readable:
                    wake_r.recv(64)
                if self.power_cycles_due:
                    self._power_cycle()
                    continue
                for sock in readable:
                    # A switch made by an earlier datagram may have closed it.
                    endpoint = by_socket.get(sock)
                    if endpoint is not None and self.sockets.get(endpoint) is sock:
                        self._receive(endpoint, sock)
                while self.late and self.now() >= self.late[0][0]:
                    self._send(self.late.pop(0)[1])
                deadline = self.mode.deadline()
                if deadline is not None and self.now() >= deadline:
                    self._apply(self.mode.on_timer(self.now()), None)
        finally:
            signal.set_wakeup_fd(-1)
            self.ctx.finish()
            self.report.write(self.final_state(), self.ctx.report_sections())
            for sock in self.sockets.values():
                sock.close()
            self.sockets = {}
            if self.address is not None:
                self.address.restore()

    def _on_signal(self, signum, frame):
        del signum, frame
        self.stopping = True

    def _on_power_cycle(self, signum, frame):
        del signum, frame
        self.power_cycles_due += 1

    def _power_cycle(self) -> None:
        """Power off and on: what was about to leave is lost, the flash decides
        where the board comes up."""
        self.power_cycles_due = 0
        self.late = []
        self._log("power cycle")
        self._switch(Switch("power-on", "power cycle"))
        self._reconcile()

    def _switch(self, switch: Switch) -> None:
        """Every change of mode, at start too, goes through here."""
        self.mode = enter(switch.mode, switch.reason, self.ctx, self.now())
        if self.mode.interface_address() is None and self.address is not None:
            # The application runs on the address it was given at the start.
            self.address.restore()
            self.address = None
        self.report.add_switch(t=round(self.now(), 4), mode=self.mode.name, reason=switch.reason)
        self._log("now in the %s (%s)" % (self.mode.name, switch.reason))

    def _reconcile(self) -> None:
        """Gives the interface the address the mode wants, opens the sockets it
        declares and closes the others."""
        address = self.mode.interface_address()
        if address is not None:
            if self.address is None:
                self.address = InterfaceAddress(self.ctx.interface())
            self.address.set(address)
        wanted = self.mode.endpoints()
        for endpoint in list(self.sockets):
            if endpoint not in wanted:
                self.sockets.pop(endpoint).close()
        for endpoint in wanted:
            if endpoint not in self.sockets:
                self.sockets[endpoint] = self._open(endpoint)

    def _open(self, endpoint: Endpoint) -> socket.socket:
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
            sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
            if endpoint.pinned:
                sock.setsockopt(socket.SOL_SOCKET, SO_BINDTODEVICE, self.ctx.interface().encode())
            sock.bind((endpoint.address, endpoint.port))
        except OSError:
            sock.close()
            raise
        return sock

    def _socket_named(self, name: str):
        for endpoint, sock in self.sockets.items():
            if endpoint.name == name:
                return sock
        return None

    def _receive(self, endpoint: Endpoint, sock: socket.socket) -> None:
        data, ancillary, _, sender = sock.recvmsg(65536, socket.CMSG_SPACE(_PKTINFO.size))
        ifindex, destination = 0, None
        for level, kind, value in ancillary:
            if level == socket.IPPROTO_IP and kind == IP_PKTINFO and len(value) >= _PKTINFO.size:
                ifindex, _, header_destination = _PKTINFO.unpack(value[:_PKTINFO.size])
                destination = socket.inet_ntoa(header_destination)
        entry = {
            "t": round(self.now(), 4),
            "from": "%s:%d" % sender,
            "to": destination,
            "mode": self.mode.name,
        }
        if endpoint.name != COMMAND:
            entry["socket"] = endpoint.name
        entry.update(_reported_bytes(data))
        if self.opt.drop > 0 and self._draw(self.drops, "", endpoint.name) < self.opt.drop:
            entry["outcome"] = "dropped"
            self._record(entry)
            return
        datagram = Datagram(endpoint.name, data, sender, destination, ifindex)
        self._apply(self.mode.on_datagram(datagram, self.now()), entry)

    def _apply(self, outcome: Outcome, entry) -> None:
        """Switches, opens what the mode now wants, then sends."""
        if outcome.switch is not None:
            self._switch(outcome.switch)
        self._reconcile()
        if entry is not None:
            entry["outcome"] = outcome.verdict
            entry.update(outcome.details)
        for send in outcome.sends:
            if send.kind is None and entry is not None and self.late_left > 0:
                self.late_left -= 1
                self._hold(self.now() + self.opt.late_first[1], send)
                entry["reply_late"] = self.opt.late_first[1]
                result = "sent"
            elif outcome.delay > 0:
                self._hold(self.now() + outcome.delay, send)
                if entry is not None:
                    entry["reply_after"] = round(outcome.delay, 4)
                result = "sent"
            else:
                result = self._send(send)
            if send.kind is not None or entry is None:
                self.report.add_sent(t=round(self.now(), 4), socket=send.endpoint, kind=send.kind,
                                     to="%s:%d" % send.to, bytes=len(send.data), result=result)
                self._log("sent %s to %s:%d: %s" % (send.kind, send.to[0], send.to[1], result))
            elif result.startswith("send failed"):
                entry["outcome"] = result
            else:
                replies = entry.setdefault("reply", "")
                entry["reply"] = (replies + " " if replies else "") + hex_bytes(send.data)
                entry["reply_to"] = "%s:%d" % send.to
                if result == "lost":
                    entry["reply_lost"] = entry.get("reply_lost", 0) + 1
                elif result == "sent twice":
                    entry["reply_twice"] = entry.get("reply_twice", 0) + 1
        if entry is not None:
            self._record(entry)

    def _draw(self, streams: dict, kind: str, socket_name: str) -> float:
        if socket_name not in streams:
            streams[socket_name] = random.Random("%s%s %d" % (kind, socket_name, self.opt.seed))
        return streams[socket_name].random()

    def _hold(self, when: float, send) -> None:
        """Keeps a send back until `when`; held sends leave in the order of their times."""
        position = len(self.late)
        while position > 0 and self.late[position - 1][0] > when:
            position -= 1
        self.late.insert(position, (when, send))

    def _send(self, send) -> str:
        if (self.opt.drop_sent > 0 and
                self._draw(self.sent_drops, "sent ", send.endpoint) < self.opt.drop_sent):
            return "lost"
        sock = self._socket_named(send.endpoint)
        if sock is None:
            return "send failed: no %s socket" % send.endpoint
        try:
            self._send_on(sock, send)
            # The copy right behind the datagram, as a segment that duplicates frames sends it.
            if self.opt.duplicate_sent > 0 and self.sent_twice.random() < self.opt.duplicate_sent:
                self._send_on(sock, send)
                return "sent twice"
        except OSError as error:
            return "send failed: %s" % error.strerror
        return "sent"

    @staticmethod
    def _send_on(sock: socket.socket, send) -> None:
        if send.ifindex:
            pktinfo = _PKTINFO.pack(send.ifindex, bytes(4), bytes(4))
            sock.sendmsg([send.data], [(socket.IPPROTO_IP, IP_PKTINFO, pktinfo)], 0, send.to)
        else:
            sock.sendto(send.data, send.to)

    def _record(self, entry: dict) -> None:
        self.report.add(**entry)
        self._log("%s -> %s %s %s: %s" % (entry["from"], entry["to"], entry.get("command") or "-",
                                           entry.get("args") or "", entry["outcome"]))

    def _log(self, text: str) -> None:
        if self.opt.verbose:
            print("board-sim %8.3f  %s" % (self.now(), text), file=sys.stderr, flush=True)


def _reported_bytes(data: bytes) -> dict:
    if len(data) <= _REPORTED_BYTES:
        return {"hex": hex_bytes(data)}
    return {"hex_head": hex_bytes(data[:32]), "bytes": len(data)}


def main(argv) -> int:
    opt = parse_options(argv)
    try:
        sim = Simulator(opt)
    except (OSError, ValueError) as error:
        print("board-sim: %s" % error, file=sys.stderr)
        return 2
    try:
        sim.run()
    except (OSError, ValueError) as error:
        print("board-sim: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
