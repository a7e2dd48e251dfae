"""The old platform's ISP bootloader, fed lines as the host sends them."""

import unittest

from support import bcast, datagram, start, ucast

from isp import uu_decode  # found through support

RAM_HALVES = (268435968, 268436480)
IMAGE_START = 8192
REGION = 516096


_UU_CHAR = bytes([0x60] + list(range(0x21, 0x60)))


def uu_line(chunk: bytes) -> bytes:
    """The test's own UU encoder: a length character, then 4 characters per 3 bytes."""
    padded = chunk + bytes(-len(chunk) % 3)
    values = bytearray([len(chunk)])
    for i in range(0, len(padded), 3):
        group = int.from_bytes(padded[i:i + 3], "big")
        values += bytes([group >> 18, group >> 12 & 0x3F, group >> 6 & 0x3F, group & 0x3F])
    return bytes(values).translate(_UU_CHAR + bytes(192))


def half_lines(half: bytes):
    """The twelve data lines of a 512-byte half, as the host cuts them."""
    return [uu_line(half[i:i + 45]) for i in range(0, 512, 45)]


class Host:
    """Sends lines one per datagram and collects the answer lines."""

    def __init__(self, *options):
        self.ctx, self.mode = start("bootloader", "--platform", "old", *options)
        self.chip = self.ctx.isp
        self.now = 0.0

    def send(self, line):
        line = line.encode("latin-1") if isinstance(line, str) else line
        self.now += 0.001
        outcome = self.mode.on_datagram(datagram(line + b"\r\n"), self.now)
        return [s.data[:-2].decode("latin-1") for s in outcome.sends
                if s.data.endswith(b"\r\n")]

    def dialogue(self, lines):
        return [self.send(line) for line in lines]

    def write_half(self, address, half, checksum=None):
        self.send("U 23130")
        assert self.send("W %d 512" % address) == ["0"]
        for line in half_lines(half):
            assert self.send(line) == []
        return self.send(str(sum(half) if checksum is None else checksum))

    def program_block(self, offset, block):
        for half, address in enumerate(RAM_HALVES):
            assert self.write_half(address, block[half * 512:half * 512 + 512]) == ["OK"]
        return self.dialogue(["P 0 29", "C %d 268435968 1024" % (offset + IMAGE_START)])


class UuDecodeTest(unittest.TestCase):
    def test_known_lines(self):
        cases = [
            ("#86)C", b"abc", None),
            ("M" + "`" * 60, bytes(45), None),
            ("1" + "`" * 24, bytes(17), None),
            ("\"86)C", b"ab", None),
            ("#86)", b"ab@", "3 characters for 3 bytes"),
            ("#86)c", b"abC", "characters outside the UU alphabet"),
        ]
        for line, data, problem in cases:
            with self.subTest(line):
                self.assertEqual(uu_decode(line), (data, problem))


class IspDialogueTest(unittest.TestCase):
    def test_the_hosts_whole_upgrade_programs_the_region(self):
        image = bytes((i * 13 + (i >> 10)) & 0xFF for i in range(REGION))
        host = Host()
        bootloader = bytes(host.chip.flash[:IMAGE_START])
        self.assertEqual(host.dialogue(["?", "Synchronized", "J", "J", "b"]),
                         [["Synchronized"], ["OK"], ["0", "637615927"], ["0", "637615927"],
                          ["BL1.234"]])
        for sector in range(29, 1, -1):
            self.assertEqual(host.dialogue(["U 23130", "P %d %d" % (sector, sector),
                                            "E %d %d" % (sector, sector)]), [["0"]] * 3)
        for offset in range(0, REGION, 1024):
            self.assertEqual(host.program_block(offset, image[offset:offset + 1024]),
                             [["0"], ["0"]], offset)
        self.assertEqual(bytes(host.chip.flash[IMAGE_START:]), image)
        self.assertEqual(bytes(host.chip.flash[:IMAGE_START]), bootloader)
        report = host.chip.report()
        self.assertEqual((len(report["copies"]), report["mismatched_copies"], report["refused"],
                          report["problems"]), (504, 0, [], []))
        self.assertEqual(report["checksums"], {"ok": 1008, "resend": 0, "forced_resend": 0})

    def test_commands_are_checked_like_the_chip_does(self):
        cases = [
            ("before the handshake", (), ["J", "?", "J", "Synchronized", "?"],
             [[], ["Synchronized"], [], ["OK"], ["1"]]),
            ("already synchronised", ("--isp-synchronized",), ["?", "J"],
             [["1"], ["0", "637615927"]]),
            ("identity and version", ("--isp-synchronized", "--part-id", "42",
                                      "--boot-version", "V1.2"),
             ["J", "b", "Synchronized", "X 1", "P 1"],
             [["0", "42"], ["V\x01.\x02"], ["1"], ["1"], ["12"]]),
            ("old bootloader version", ("--isp-synchronized", "--boot-version", "none"),
             ["b"], [["1"]]),
            ("unlock code", ("--isp-synchronized",), ["U 1", "E 2 2", "U 23130"],
             [["16"], ["15"], ["0"]]),
            ("erase needs prepared sectors, each time", ("--isp-synchronized",),
             ["U 23130", "E 2 3", "P 2 2", "E 2 3", "P 2 3", "E 2 3", "E 2 3", "P 0 29", "E 1 2",
              "E 29 30", "P 0 30"],
             [["0"], ["9"], ["0"], ["9"], ["0"], ["0"], ["9"], ["0"], ["7"], ["7"], ["7"]]),
            ("copy", ("--isp-synchronized",),
             ["U 23130", "P 0 29", "C 4096 268435968 1024", "C 8192 268435968 1000",
              "C 8200 268435968 1024", "C 8192 268435970 1024", "C 8192 536870912 1024",
              "C 523264 268435968 4096", "C 8192 268435968 1024", "C 8192 268435968 1024"],
             [["0"], ["0"], ["3"], ["6"], ["3"], ["2"], ["4"], ["5"], ["0"], ["9"]]),
            ("write to RAM", ("--isp-synchronized",),
             ["W 268435456 512", "W 268435970 512", "W 268435968 510", "W 268467712 1024"],
             [["14"], ["13"], ["6"], ["14"]]),
        ]
        for label, options, lines, answers in cases:
            with self.subTest(label):
                host = Host(*options)
                self.assertEqual(host.dialogue(lines), answers)
        self.assertEqual([r["code"] for r in host.chip.report()["refused"]], [14, 13, 6, 14])

    def test_checksums_decide_between_ok_and_resend(self):
        half = bytes((i * 7) & 0xFF for i in range(512))
        cases = [
            ("right sum", (), [None], ["OK"]),
            ("wrong sum, then right", (), [sum(half) + 1, None], ["RESEND", "OK"]),
            ("first two refused", ("--resend-first", "2"), [None, None, None],
             ["RESEND", "RESEND", "OK"]),
        ]
        for label, options, checksums, answers in cases:
            with self.subTest(label):
                host = Host("--isp-synchronized", *options)
                got = []
                for checksum in checksums:
                    if got:  # a resend repeats the lines and the checksum only
                        for line in half_lines(half):
                            host.send(line)
                        got += host.send(str(sum(half) if checksum is None else checksum))
                    else:
                        got += host.write_half(RAM_HALVES[0], half, checksum)
                self.assertEqual(got, answers)
                offset = RAM_HALVES[0] - 0x10000000
                self.assertEqual(bytes(host.chip.ram[offset:offset + 512]), half)
                # The command phase is back: a command is answered again.
                self.assertEqual(host.send("P 2 2"), ["0"])

    def test_copies_only_clear_bits(self):
        block = bytes([0x0F]) * 1024
        # destination, erased before, expected mismatching bytes
        cases = [
            ("erased target", True, 0),
            ("target holding an older image", False, 1024),
        ]
        for label, erase, mismatches in cases:
            with self.subTest(label):
                host = Host("--isp-synchronized", "--flash-init", "/dev/null")
                host.chip.flash[IMAGE_START:IMAGE_START + 1024] = bytes([0xF0]) * 1024
                if erase:
                    host.dialogue(["U 23130", "P 2 2", "E 2 2"])
                self.assertEqual(host.program_block(0, block), [["0"], ["0"]])
                copy, = host.chip.report()["copies"]
                self.assertEqual(copy["mismatches"], mismatches)
        # One 32 KiB sector takes 32 copies after one erase; a second pass
        # with other data cannot set the bits again.
        host = Host("--isp-synchronized")
        host.dialogue(["U 23130", "P 16 16", "E 16 16"])
        for offset in range(65536 - IMAGE_START, 98304 - IMAGE_START, 1024):
            host.program_block(offset, bytes([offset >> 10]) * 1024)
        host.program_block(65536 - IMAGE_START, bytes([0xFF]) * 1024)
        copies = host.chip.report()["copies"]
        self.assertEqual([c["mismatches"] for c in copies], [0] * 32 + [1024])
        self.assertEqual(host.chip.report()["mismatched_copies"], 1)

    def test_lines_and_frames_in_datagrams(self):
        host = Host("--isp-synchronized", "--isp-reply-from", "192.168.100.3:5003")
        split = [host.mode.on_datagram(datagram(part), 0.0) for part in (b"U 231", b"30\r\n")]
        self.assertEqual([[s.data for s in o.sends] for o in split], [[], [b"0\r\n"]])
        self.assertEqual(split[1].sends[0].endpoint, "isp-alt")
        # The broadcast commands a DISABLE upgrade needs are still answered,
        # from the port they came to; unicast commands are not.
        cases = [
            (bcast(0x07, "E2P_READ", b"\xfe\x02"), "answered", "000680070000"),
            (bcast(0x01, "FWVER_REQ"), "answered", "000680010107"),
            (bcast(0x05, "BOOTLOADER"), "answered", "0005800506"),
            (ucast(0x1F, "GET_MODELNAME"), "unanswered", None),
        ]
        for data, verdict, answer in cases:
            with self.subTest(data):
                outcome = host.mode.on_datagram(datagram(data), 0.0)
                self.assertEqual(outcome.verdict, verdict)
                self.assertEqual([(s.data.hex().upper(), s.endpoint) for s in outcome.sends],
                                 [(answer, "command")] if answer else [])
        silent = Host("--silent-bootloader")
        self.assertEqual(silent.send("?"), [])
        outcome = silent.mode.on_datagram(datagram(bcast(0x01, "FWVER_REQ")), 0.0)
        self.assertEqual(outcome.verdict, "answered")


class StrictIspTest(unittest.TestCase):
    def test_one_line_per_datagram(self):
        # datagrams, answers, protocol errors recorded
        cases = [
            ("one line each", [b"U 23130\r\n", b"P 2 2\r\n"], ["0\r\n", "0\r\n"], []),
            ("two lines in one", [b"U 23130\r\nP 2 2\r\n"], ["0\r\n", "0\r\n"],
             ["more than one line in the datagram"]),
            ("a line split in two", [b"U 231", b"30\r\n"], ["0\r\n"],
             ["the line is not ended in this datagram",
              "the datagram ends a line begun in an earlier one"]),
            ("LF alone", [b"U 23130\n"], ["0\r\n"], ["the line is ended by LF alone"]),
        ]
        for label, datagrams, answers, errors in cases:
            with self.subTest(label):
                host = Host("--isp-synchronized", "--strict")
                sends = [s for d in datagrams for s in host.mode.on_datagram(datagram(d), 0).sends]
                self.assertEqual([s.data.decode() for s in sends], answers)
                self.assertEqual([e["problem"] for e in host.chip.report()["protocol_errors"]],
                                 errors)

    def test_erase_and_copy_answer_after_a_chips_time(self):
        # options, lines, delay of the last answer
        cases = [
            ((), ["U 23130", "P 2 4", "E 2 4"], 0.3),
            (("--time-scale", "0.5"), ["U 23130", "P 2 2", "E 2 2"], 0.05),
            (("--erase-ms", "10"), ["U 23130", "P 2 2", "E 2 2"], 0.01),
            ((), ["U 23130", "P 0 29", "C 8192 268435968 1024"], 0.004),
            ((), ["U 23130", "P 0 29"], 0.0),
        ]
        for options, lines, delay in cases:
            with self.subTest((options, lines)):
                host = Host("--isp-synchronized", "--strict", *options)
                for line in lines:
                    outcome = host.mode.on_datagram(datagram(line.encode() + b"\r\n"), 5.0)
                self.assertAlmostEqual(outcome.delay, delay)

    def test_a_lost_data_line_leaves_the_checksum_unanswered(self):
        half = bytes((i * 7) & 0xFF for i in range(512))
        host = Host("--isp-synchronized", "--strict", "--lose-line", "3")
        self.assertEqual(host.write_half(RAM_HALVES[0], half), [])
        # Only completing the W brings the commands back: the host's checksum
        # and its next command are taken as data, the line after them as the
        # checksum.
        self.assertEqual(host.send("U 23130"), [])
        self.assertEqual(host.send("W 268435968 512"), ["RESEND"])
        for line in half_lines(half):
            host.send(line)
        self.assertEqual(host.send(str(sum(half))), ["OK"])
        self.assertEqual(host.send("P 2 2"), ["0"])
        self.assertEqual(len(host.chip.report()["lost_lines"]), 1)


if __name__ == "__main__":
    unittest.main()
