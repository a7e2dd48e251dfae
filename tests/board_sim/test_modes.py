"""The modes of the board and the switches between them, without sockets."""

import unittest

from support import bcast, datagram, replies, start, ucast

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


if __name__ == "__main__":
    unittest.main()
