"""The remote update as the running application takes it."""

import unittest

from support import bcast, datagram, start, ucast

from transitions import enter  # found through support

S0 = "S00F000068656C6C6F202020202000003C"
S7 = "S70500000000FA"
CODES = {"REMOTE_ERASE": 0xF1, "SEND_FILE": 0xF2, "REMOTE_UPDATE": 0xF3,
         "CHECK_REMOTE_UPDATE": 0xF4}


def s3(address, payload):
    """A data record with a 4-byte address, its checksum made the standard way."""
    body = bytes([len(payload) + 5]) + address.to_bytes(4, "big") + payload
    return "S3" + (body + bytes([~sum(body) & 0xFF])).hex().upper()


def remote(name, line=""):
    """A remote-update command; only SEND_FILE carries its line."""
    return ucast(CODES[name], name, line.encode("ascii") if name == "SEND_FILE" else b"")


class RemoteUpdateTest(unittest.TestCase):
    def test_lines_are_kept_in_order_and_checked(self):
        long_record = s3(0x10, bytes(range(32)))
        lines = [S0, s3(0, b"\x01\x02\x03\x04"), long_record[:73],
                 s3(4, b"\x05")[:-2] + "00", S7]
        ctx, mode = start("application")
        commands = [remote("REMOTE_ERASE")] + [remote("SEND_FILE", line) for line in lines]
        answers = [mode.on_datagram(datagram(c), 0.0).sends[0].data.hex().upper()
                   for c in commands + [remote("REMOTE_UPDATE")]]
        self.assertEqual(answers, ["000581F106"] + ["000581F206"] * 5 + ["000581F306"])
        report = ctx.remote.report()
        self.assertEqual((report["lines"], report["erases"], report["updates"]), (lines, [0], [5]))
        self.assertEqual([(b["index"], b["problem"]) for b in report["bad_lines"]],
                         [(2, "odd number of hexadecimal digits"), (3, "checksum 00, expected F0")])

    def test_refusals_silence_and_late_completion(self):
        line = s3(0, b"\xAA")
        # options, requests, verdicts, answer payloads, lines kept
        cases = [
            ((), ["REMOTE_ERASE", "REMOTE_UPDATE", "CHECK_REMOTE_UPDATE"],
             ["answered"] * 3, ["06"] * 3, 0),
            (("--refuse", "SEND_FILE=2"), ["SEND_FILE"] * 3,
             ["answered", "refused", "answered"], ["06", "15", "06"], 2),
            (("--ignore-nth", "SEND_FILE=2", "--ignore-nth", "SEND_FILE=3"), ["SEND_FILE"] * 4,
             ["answered", "ignored", "ignored", "answered"], ["06", "06"], 2),
            (("--update-done-poll", "4"), ["CHECK_REMOTE_UPDATE"] * 5,
             ["busy"] * 3 + ["answered"] * 2, ["06", "06"], 0),
            (("--refuse", "REMOTE_UPDATE=1"), ["REMOTE_UPDATE", "REMOTE_UPDATE"],
             ["refused", "answered"], ["15", "06"], 0),
        ]
        for options, names, verdicts, payloads, kept in cases:
            with self.subTest(options):
                ctx, mode = start("application", *options)
                outcomes = [mode.on_datagram(datagram(remote(name, line)), 0.0) for name in names]
                self.assertEqual([o.verdict for o in outcomes], verdicts)
                self.assertEqual([s.data[4:].hex().upper() for o in outcomes for s in o.sends],
                                 payloads)
                self.assertEqual(len(ctx.remote.lines), kept)

    def test_a_refused_bootloader_command_does_not_reboot(self):
        _, mode = start("application", "--refuse", "BOOTLOADER=1")
        outcome = mode.on_datagram(datagram(bcast(0x05, "BOOTLOADER")), 0.0)
        self.assertEqual((outcome.verdict, outcome.sends[0].data.hex()), ("refused", "0005800515"))
        self.assertIsNone(mode.deadline())


class StrictRemoteUpdateTest(unittest.TestCase):
    def test_commands_in_their_order_only(self):
        # requests, answer payloads, protocol errors recorded
        cases = [
            ("in order", ["REMOTE_ERASE", "SEND_FILE " + S0, "SEND_FILE " + S7, "REMOTE_UPDATE"],
             ["06", "06", "06", "06"], []),
            ("a line before the erase", ["SEND_FILE " + S0], ["15"],
             ["a line before REMOTE_ERASE"]),
            ("an update without an end record", ["REMOTE_ERASE", "SEND_FILE " + S0,
                                                 "REMOTE_UPDATE"],
             ["06", "06", "15"], ["REMOTE_UPDATE before an end record"]),
        ]
        for label, requests, payloads, errors in cases:
            with self.subTest(label):
                ctx, mode = start("application", "--strict")
                outcomes = [mode.on_datagram(datagram(remote(*r.split(" "))), 0.0)
                            for r in requests]
                self.assertEqual([s.data[4:].hex() for o in outcomes for s in o.sends], payloads)
                self.assertEqual([e["problem"] for e in ctx.remote.report()["protocol_errors"]],
                                 errors)

    def test_the_board_restarts_after_an_update(self):
        ctx, mode = start("application", "--strict", "--update-time", "2")
        for request in ["REMOTE_ERASE", "SEND_FILE " + S7, "REMOTE_UPDATE"]:
            mode.on_datagram(datagram(remote(*request.split(" "))), 1.0)
        poll = datagram(remote("CHECK_REMOTE_UPDATE"))
        self.assertEqual(mode.on_datagram(poll, 1.5).verdict, "restarting")
        switch = mode.on_timer(mode.deadline()).switch
        self.assertEqual((mode.deadline(), switch.mode, switch.reason),
                         (None, "power-on", "restart"))
        mode = enter(switch.mode, switch.reason, ctx, 3.0)
        self.assertEqual((mode.on_datagram(poll, 3.5).verdict, ctx.board.version.hex()),
                         ("answered", "0108"))


if __name__ == "__main__":
    unittest.main()
