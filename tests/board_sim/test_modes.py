"""The modes of the board and the switches between them, without sockets."""

import unittest

import struct

from support import bcast, datagram, replies, start, ucast

from transitions import enter  # found through support

FWVER = bcast(0x01, "FWVER_REQ")
BOOTLOADER = bcast(0x05, "BOOTLOADER")
BOOTLOADER_ACK = "0005800506"


class ApplicationModeTest(unittest.TestCase):
    def test_reboot_follows_an_answered_bootloader_command(self):
        # options, BOOTLOADER requests sent, verdicts, deadline after the last
        cases = [
            ((), 1, ["answered"], 0.5),
            (("--reboot-delay", "2"), 2, ["answered", "answered"], 2.0),
            (("--ignore-first", "BOOTLOADER=1"), 2, ["ignored", "answered"], 0.5),
            (("--ignore-first", "BOOTLOADER=2"), 2, ["ignored", "ignored"], None),
            (("--silent",), 1, ["silent"], None),
        ]
        for options, count, verdicts, deadline in cases:
            with self.subTest(options):
                _, mode = start("application", *options)
                outcomes = [mode.on_datagram(datagram(BOOTLOADER), 0.0) for _ in range(count)]
                self.assertEqual([o.verdict for o in outcomes], verdicts)
                self.assertEqual(mode.deadline(), deadline)
                self.assertTrue(all(o.switch is None for o in outcomes))

    def test_timer_switches_to_the_bootloader_at_the_deadline_only(self):
        _, mode = start("application", "--reboot-delay", "1")
        self.assertEqual(replies(mode.on_datagram(datagram(BOOTLOADER), 3.0)), [BOOTLOADER_ACK])
        self.assertIsNone(mode.on_timer(3.5).switch)
        switch = mode.on_timer(4.0).switch
        self.assertEqual((switch.mode, switch.reason), ("bootloader", "command"))
        self.assertIsNone(mode.deadline())

    def test_answers_go_to_the_sender_or_to_everyone(self):
        for options, destination, ifindex in [((), ("192.168.100.1", 40000), 0),
                                              (("--answer-broadcast",),
                                               ("255.255.255.255", 40000), 3)]:
            with self.subTest(options):
                _, mode = start("application", *options)
                send, = mode.on_datagram(datagram(FWVER), 0.0).sends
                self.assertEqual((send.to, send.ifindex, send.data.hex()),
                                 (destination, ifindex, "000680010107"))

    def test_requests_it_does_not_answer(self):
        cases = [
            ("another board", bcast(0x01, "FWVER_REQ", mac=bytes(6)), "other-mac"),
            ("length field", b"\x00\x20" + FWVER[2:], "malformed"),
            ("not emulated", ucast(0x13, "GET_TITLENAME"), "unanswered"),
        ]
        for label, data, verdict in cases:
            with self.subTest(label):
                _, mode = start("application")
                outcome = mode.on_datagram(datagram(data), 0.0)
                self.assertEqual((outcome.verdict, outcome.sends), (verdict, []))


class StartTest(unittest.TestCase):
    def test_start_mode_and_endpoints(self):
        # mode, options, endpoints, address wanted on the interface
        cases = [
            ("application", ("--port", "6000"), [("command", 6000), ("magic", 9)], None),
            ("application", ("--platform", "old"), [("command", 5002)], None),
            ("bootloader", ("--platform", "old"), [("command", 5002)], None),
            ("bootloader", ("--platform", "old", "--isp-reply-from", "192.168.100.3:5003"),
             [("command", 5002), ("isp-alt", 5003)], None),
            ("bootloader", (), [("command", 5002), ("magic", 9), ("bootp", 68)], ""),
            ("bootloader", ("--keep-address",), [("command", 5002), ("magic", 9), ("bootp", 68)],
             None),
        ]
        for target, options, endpoints, address in cases:
            with self.subTest((target, options)):
                _, mode = start(target, *options)
                self.assertEqual(mode.name, target)
                self.assertEqual([(e.name, e.port) for e in mode.endpoints()], endpoints)
                self.assertEqual(mode.interface_address(), address)


def isp_lines(*lines):
    def run(ctx, mode):
        for line in lines:
            mode.on_datagram(datagram(line.encode("ascii") + b"\r\n"), 0.0)
    return run


def whole_isp_region(ctx, mode):
    isp_lines("?", "Synchronized", "U 23130")(ctx, mode)
    for address in range(8192, 524288, 4096):
        isp_lines("P 0 29", "C %d 268435968 4096" % address)(ctx, mode)


def tftp_image(blocks):
    def run(ctx, mode):
        mode.on_timer(mode.deadline())  # the BOOTP request
        mode._rec.lease, mode._rec.state = {"yiaddr": "192.168.100.2",
                                            "siaddr": "192.168.100.1", "file": "f"}, "tftp"
        for block in range(1, blocks + 1):
            payload = bytes(512 if block < 3 else 10)
            mode.on_datagram(datagram(struct.pack(">HH", 3, block) + payload, "tftp",
                                      ("192.168.100.1", 33000)), 0.0)
    return run


def remote_update(*names):
    codes = {"REMOTE_ERASE": 0xF1, "SEND_FILE": 0xF2, "REMOTE_UPDATE": 0xF3}

    def run(ctx, mode):
        for name in names:
            word, _, line = name.partition(" ")
            mode.on_datagram(datagram(ucast(codes[word], word, line.encode("ascii"))), 0.0)
    return run


class PowerCycleTest(unittest.TestCase):
    def test_the_flash_decides_where_the_board_comes_up(self):
        # label, options, mode before, what happened, mode after, version reported
        cases = [
            ("nothing written", (), "application", None, "application", "0107"),
            ("ISP erase only", ("--platform", "old"), "bootloader",
             isp_lines("?", "Synchronized", "U 23130", "P 29 29", "E 29 29"),
             "bootloader", "0107"),
            ("ISP region all but one block", ("--platform", "old"), "bootloader",
             isp_lines("?", "Synchronized", "U 23130", "P 0 29", "C 8192 268435968 4096"),
             "bootloader", "0107"),
            ("ISP region whole", ("--platform", "old"), "bootloader", whole_isp_region,
             "application", "0108"),
            ("ISP region whole, version given", ("--platform", "old", "--new-version", "2.0"),
             "bootloader", whole_isp_region, "application", "0200"),
            ("TFTP cut short", (), "bootloader", tftp_image(2), "bootloader", "0107"),
            ("TFTP complete", (), "bootloader", tftp_image(3), "application", "0108"),
            ("TFTP complete, no return", ("--no-return",), "bootloader", tftp_image(3),
             "silent", "0108"),
            ("remote update whole", (), "application",
             remote_update("REMOTE_ERASE", "SEND_FILE S70500000000FA", "REMOTE_UPDATE"),
             "application", "0108"),
            ("remote update without end record", (), "application",
             remote_update("REMOTE_ERASE", "REMOTE_UPDATE"), "application", "0107"),
        ]
        for label, options, before, happened, after, version in cases:
            with self.subTest(label):
                ctx, mode = start(before, *options)
                if before == "bootloader" and "--platform" not in options:
                    mode = enter("bootloader", "magic", ctx, 0.0)
                if happened:
                    happened(ctx, mode)
                self.assertEqual(ctx.board.version.hex(), "0107")
                mode = enter("power-on", "power cycle", ctx, 1.0)
                self.assertEqual((mode.name, ctx.board.version.hex()), (after, version))
                self.assertEqual(ctx.report_sections()["power_cycles"],
                                 [{"t": 1.0, "came_up_in": after.replace("silent", "application"),
                                   "version": version}])
                if after != "bootloader":
                    answers = mode.on_datagram(datagram(FWVER), 2.0).sends
                    self.assertEqual(len(answers), 0 if after == "silent" else 1)

    def test_the_isp_bootloader_loses_the_nth_data_line_once(self):
        ctx, mode = start("bootloader", "--platform", "old", "--isp-synchronized",
                          "--lose-line", "2")
        outcomes = [mode.on_datagram(datagram(line), 0.0) for line in
                    [b"W 268435968 8\r\n", b"$86)C\r\n", b"$86)C\r\n", b"$86)C\r\n",
                     b"588\r\n"]]
        self.assertEqual([o.details["command"] for o in outcomes],
                         ["W", "DATA", "LOST", "DATA", "CHECKSUM"])
        self.assertEqual(len(ctx.isp.report()["lost_lines"]), 1)


if __name__ == "__main__":
    unittest.main()
