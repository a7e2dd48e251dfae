"""The new platform's network bootloader, fed packets and times."""

import struct
import unittest

from support import MAC, OTHER_MAC, Context, datagram, options, start

from transitions import enter  # found through support

SERVER = "192.168.100.1"
BOARD = "192.168.100.2"
TRANSFER = (SERVER, 33000)


def magic(mac=MAC):
    return b"\xaa" * 6 + mac * 4


def bootp_reply(request, yiaddr=BOARD, siaddr=SERVER, file=b"firmware.bin", op=2,
                chaddr=None, xid=None):
    """The host's answer: the request with op, addresses and file name set."""
    reply = bytearray(request)
    reply[0] = op
    if xid is not None:
        reply[4:8] = struct.pack(">I", xid)
    reply[16:20] = bytes(int(x) for x in yiaddr.split("."))
    reply[20:24] = bytes(int(x) for x in siaddr.split("."))
    if chaddr is not None:
        reply[28:34] = chaddr
    reply[108:108 + len(file) + 1] = file + b"\0"
    return bytes(reply)


def data(block, payload, sender=TRANSFER):
    return datagram(struct.pack(">HH", 3, block) + payload, "tftp", sender)


class Board:
    """A network bootloader after a magic packet, driven by hand."""

    def __init__(self, *argv, reason="magic"):
        self.ctx = Context(options(*argv))
        self.mode = enter("bootloader", reason, self.ctx, 0.0)
        self.rec = self.ctx.netboot

    def timer(self):
        now = self.mode.deadline()
        return now, self.mode.on_timer(now)

    def bootp(self):
        """Lets the first request go out; returns it."""
        _, outcome = self.timer()
        send, = outcome.sends
        return send

    def leased(self):
        request = self.bootp().data
        outcome = self.mode.on_datagram(datagram(bootp_reply(request), "bootp", (SERVER, 67)), 1)
        return outcome


class MagicPacketTest(unittest.TestCase):
    def test_only_the_hosts_packet_with_this_mac_restarts_the_application(self):
        cases = [
            ("this board", magic(), "taken", 0.7),
            ("another board", magic(OTHER_MAC), "other-mac", None),
            ("wake-on-LAN form", b"\xff" * 6 + MAC * 16, "not-magic", None),
            ("cut short", magic()[:29], "not-magic", None),
        ]
        for label, packet, verdict, deadline in cases:
            with self.subTest(label):
                _, mode = start("application", "--reboot-delay", "0.5")
                outcome = mode.on_datagram(datagram(packet, "magic"), 0.2)
                self.assertEqual((outcome.verdict, mode.deadline()), (verdict, deadline))
        _, mode = start("application")
        mode.on_datagram(datagram(magic(), "magic"), 0.0)
        switch = mode.on_timer(mode.deadline()).switch
        self.assertEqual((switch.mode, switch.reason), ("bootloader", "magic"))

    def test_bootloader_entered_otherwise_waits_for_a_magic_packet(self):
        for reason in ("command", "start"):
            with self.subTest(reason):
                board = Board(reason=reason)
                self.assertIsNone(board.mode.deadline())
                other = board.mode.on_datagram(datagram(magic(OTHER_MAC), "magic"), 1.0)
                self.assertEqual((other.verdict, board.mode.deadline()), ("other-mac", None))
                outcome = board.mode.on_datagram(datagram(magic(), "magic"), 2.0)
                self.assertEqual((outcome.verdict, board.mode.deadline()), ("bootp", 2.0))
                # Later magic packets change nothing.
                board.mode.on_datagram(datagram(magic(), "magic"), 2.5)
                self.assertEqual((board.rec.magic_packets, board.rec.state), (2, "bootp"))
        for silence in ("--silent", "--silent-bootloader"):
            board = Board(silence)
            self.assertEqual((board.rec.state, board.mode.deadline()), ("silent", None))


class BootpTest(unittest.TestCase):
    def test_requests_and_their_retransmission(self):
        for argv, chaddr, sname in [((), MAC, b"stellaris"),
                                    (("--chip", "tiva", "--bootp-mac", OTHER_MAC.hex(":")),
                                     OTHER_MAC, b"tiva")]:
            with self.subTest(argv):
                board = Board("--time-scale", "0.5", *argv)
                sends, times = [], []
                for _ in range(5):
                    now, outcome = board.timer()
                    times.append(now)
                    sends += outcome.sends
                request = sends[0].data
                self.assertEqual((len(request), request[:4].hex()), (300, "01010600"))
                self.assertEqual((request[28:34], request[44:44 + len(sname) + 1]),
                                 (chaddr, sname + b"\0"))
                self.assertEqual(request[12:28], bytes(16))  # no addresses yet
                self.assertEqual({(s.to, s.endpoint, s.data[4:8]) for s in sends},
                                 {(("255.255.255.255", 67), "bootp", request[4:8])})
                self.assertEqual(times, [0.0, 0.5, 1.5, 3.5, 5.5])

    def test_replies_it_takes_and_the_ones_it_ignores(self):
        cases = [
            ("the server's reply", {}, "taken"),
            ("its own request", {"op": 1}, "not-a-reply"),
            ("another exchange", {"xid": 7}, "other-xid"),
            ("another board", {"chaddr": OTHER_MAC}, "other-mac"),
            ("no address", {"yiaddr": "0.0.0.0"}, "no-address"),
        ]
        for label, fields, verdict in cases:
            with self.subTest(label):
                board = Board()
                request = board.bootp().data
                reply = datagram(bootp_reply(request, **fields), "bootp", (SERVER, 67))
                outcome = board.mode.on_datagram(reply, 1.0)
                self.assertEqual(outcome.verdict, verdict)
                if verdict != "taken":
                    self.assertEqual((outcome.sends, board.mode.interface_address()), ([], ""))
                    continue
                rrq, = outcome.sends
                self.assertEqual((rrq.data, rrq.to, rrq.endpoint),
                                 (b"\0\x01firmware.bin\0octet\0", (SERVER, 69), "tftp"))
                self.assertEqual(board.mode.interface_address(), BOARD)
                self.assertIn(("tftp", BOARD), [(e.name, e.address)
                                                for e in board.mode.endpoints()])
                late = board.mode.on_datagram(reply, 1.1)
                self.assertEqual((late.verdict, late.sends), ("late", []))
                self.assertEqual(board.ctx.netboot.report()["address"], BOARD)


class TftpTest(unittest.TestCase):
    def test_transfers(self):
        blocks = [bytes([n]) * 512 for n in range(1, 4)]
        # packets from the server (block, payload index or bytes, sender), the
        # verdicts, the blocks acknowledged and the image kept
        cases = [
            ("1,000 bytes", [(1, blocks[0]), (2, blocks[1][:488])],
             ["taken", "taken"], [1, 2], blocks[0] + blocks[1][:488]),
            ("a multiple of 512 ends with an empty block",
             [(1, blocks[0]), (2, blocks[1]), (3, b"")],
             ["taken", "taken", "taken"], [1, 2, 3], blocks[0] + blocks[1]),
            ("a repeated block is acknowledged again, kept once",
             [(1, blocks[0]), (1, blocks[0]), (2, b"end")],
             ["taken", "duplicate", "taken"], [1, 1, 2], blocks[0] + b"end"),
            ("a block ahead is ignored", [(1, blocks[0]), (3, blocks[2]), (2, b"")],
             ["taken", "out-of-order", "taken"], [1, 2], blocks[0]),
            ("another transfer port gets an error",
             [(1, blocks[0]), (2, blocks[1], (SERVER, 34000)), (2, b"")],
             ["taken", "other-tid", "taken"], [1, 2], blocks[0]),
            ("the server restarted after a repeated request",
             [(1, blocks[0]), (1, blocks[0], (SERVER, 34000)), (2, b"", (SERVER, 34000))],
             ["taken", "duplicate", "taken"], [1, 1, 2], blocks[0]),
            ("another server", [(1, blocks[0], ("192.168.100.9", 33000))],
             ["other-server"], [], b""),
        ]
        for label, packets, verdicts, acked, image in cases:
            with self.subTest(label):
                board = Board()
                board.leased()
                got, acks = [], []
                for packet in packets:
                    outcome = board.mode.on_datagram(data(*packet), 2.0)
                    got.append(outcome.verdict)
                    for send in outcome.sends:
                        opcode, block = struct.unpack(">HH", send.data[:4])
                        if opcode == 4:
                            acks.append(block)
                            self.assertEqual(send.to, packet[2] if len(packet) > 2 else TRANSFER)
                        else:
                            self.assertEqual(send.data[:4], b"\0\x05\0\x05")
                self.assertEqual((got, acks, bytes(board.rec.image)), (verdicts, acked, image))
                # A finished transfer waits for nothing more.
                done = board.rec.state == "done"
                self.assertEqual(board.mode.deadline() is None, done)

    def test_time_outs_retransmit_then_ask_for_an_address_again(self):
        board = Board("--time-scale", "0.1")
        board.leased()
        kinds = []
        for _ in range(5):
            _, outcome = board.timer()
            kinds += [s.kind for s in outcome.sends]
        board.mode.on_datagram(data(1, bytes(512)), 2.0)
        for _ in range(6):
            _, outcome = board.timer()
            kinds += [s.kind for s in outcome.sends]
        self.assertEqual(kinds, ["tftp-rrq"] * 5 + ["tftp-ack"] * 5)
        self.assertEqual((board.rec.state, board.mode.interface_address()), ("bootp", ""))
        request = board.bootp()
        self.assertEqual(request.kind, "bootp-request")
        self.assertEqual(len(board.rec.errors), 1)
        # The transfer that follows keeps its own blocks only.
        board.mode.on_datagram(datagram(bootp_reply(request.data), "bootp", (SERVER, 67)), 30.0)
        board.mode.on_datagram(data(1, b"new", (SERVER, 35000)), 30.1)
        self.assertEqual((bytes(board.rec.image), board.rec.complete), (b"new", True))


class StrictNetbootTest(unittest.TestCase):
    def test_bootp_backs_off_up_to_a_minute(self):
        board = Board("--strict")
        times = [board.timer()[0] for _ in range(9)]
        self.assertEqual(times, [0.0, 1.0, 3.0, 7.0, 15.0, 31.0, 63.0, 123.0, 183.0])

    def test_silence_restarts_the_transfer_from_its_first_block(self):
        board = Board("--strict")
        board.leased()
        board.mode.on_datagram(data(1, bytes(512)), 2.0)
        board.mode.on_datagram(data(2, bytes(512)), 2.5)
        events = []
        for _ in range(4):
            now, outcome = board.timer()
            events.append((now, [s.kind for s in outcome.sends]))
        self.assertEqual(events, [(6.5, ["tftp-rrq"]), (10.5, ["tftp-rrq"]),
                                  (14.5, ["tftp-rrq"]), (18.5, [])])
        self.assertEqual((board.rec.state, board.rec.transfer_restarts), ("bootp", 3))
        # The server's answer to the repeated request, from a port of its own,
        # starts the image again.
        board = Board("--strict")
        board.leased()
        board.mode.on_datagram(data(1, bytes(512)), 2.0)
        board.timer()
        outcome = board.mode.on_datagram(data(1, b"end", (SERVER, 35000)), 6.6)
        self.assertEqual((outcome.verdict, bytes(board.rec.image)), ("taken", b"end"))

    def test_only_the_transfers_port_is_heard(self):
        # packets (block, payload, sender), verdicts, blocks acknowledged
        cases = [
            ("another port mid-transfer",
             [(1, bytes(512)), (2, b"", (SERVER, 34000)), (2, b"")],
             ["taken", "foreign-port", "taken"], [1, 2]),
            ("a later block before the first", [(2, bytes(512)), (1, b"")],
             ["foreign-port", "taken"], [1]),
        ]
        for label, packets, verdicts, acked in cases:
            with self.subTest(label):
                board = Board("--strict")
                board.leased()
                outcomes = [board.mode.on_datagram(data(*packet), 2.0) for packet in packets]
                self.assertEqual([o.verdict for o in outcomes], verdicts)
                self.assertEqual([struct.unpack(">HH", s.data[:4])[1] for o in outcomes
                                  for s in o.sends], acked)

    def test_the_application_starts_after_the_last_block(self):
        board = Board("--strict", "--new-version", "3.1")
        board.leased()
        board.mode.on_datagram(data(1, b"end"), 2.0)
        now, outcome = board.timer()
        self.assertEqual((now, outcome.switch.mode, outcome.switch.reason),
                         (2.25, "power-on", "restart"))
        mode = enter(outcome.switch.mode, outcome.switch.reason, board.ctx, now)
        self.assertEqual((mode.name, board.ctx.board.version.hex()), ("application", "0301"))


if __name__ == "__main__":
    unittest.main()
