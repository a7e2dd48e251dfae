"""The emulated board on its own, probed from the host namespace.

Run by board_sim_selftest.sh inside the host namespace of a fresh topology;
boards are started in the board namespace and ended by their pids.
"""

import json
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SIM = os.environ["KOVA_SIM"]
PYTHON = os.environ.get("KOVA_PYTHON", "python3")
BOARD_NS = os.environ["TOPO_BOARD_NS"]
HOST_IF = os.environ["TOPO_HOST_IF"]
BOARD_IP = os.environ["TOPO_BOARD_IP"]
HOST_IP = os.environ["TOPO_HOST_IP"]
MAC = bytes.fromhex(os.environ["TOPO_BOARD_MAC"].replace(":", ""))
OTHER_MAC = bytes.fromhex("001A2B3C4D5F")
SO_BINDTODEVICE = getattr(socket, "SO_BINDTODEVICE", 25)
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)
BROADCAST = ("255.255.255.255", 5002)
UNICAST = (BOARD_IP, 5002)


def request(table, code, word, args=b"", mac=None):
    body = (mac or b"") + word.encode("ascii") + args
    return struct.pack(">H", 4 + len(body)) + bytes([table, code]) + body


def bcast(code, word, args=b"", mac=MAC):
    return request(0x80, code, word, args, mac)


def ucast(code, word, args=b""):
    return request(0x81, code, word, args)


class Board:
    """One simulator process in the board namespace."""

    def __init__(self, *options):
        self.dir = tempfile.mkdtemp()
        self.report_path = os.path.join(self.dir, "report.json")
        ready = os.path.join(self.dir, "ready")
        self.proc = subprocess.Popen(
            ["ip", "netns", "exec", BOARD_NS, PYTHON, SIM, "--mac", MAC.hex(":"),
             "--report", self.report_path, "--ready-file", ready] + list(options))
        deadline = time.monotonic() + 5
        while not os.path.exists(ready):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("the board did not start listening")
            time.sleep(0.02)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        status = self.proc.wait(timeout=10)
        report = None
        if os.path.exists(self.report_path):
            with open(self.report_path, encoding="utf-8") as f:
                report = json.load(f)
        subprocess.run(["rm", "-rf", self.dir], check=False)
        return status, report


class Client:
    """A socket on the board's segment, as the tool would have it."""

    def __init__(self, bind_device=True):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
        if bind_device:
            self.sock.setsockopt(socket.SOL_SOCKET, SO_BINDTODEVICE, HOST_IF.encode())
        self.sock.bind(("0.0.0.0", 0))

    def exchange(self, datagram, to=BROADCAST, wait=0.4):
        """Sends one datagram; every reply within `wait` s as (bytes, header destination)."""
        self.sock.sendto(datagram, to)
        replies = []
        self.senders = []
        deadline = time.monotonic() + wait
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return replies
            self.sock.settimeout(left)
            try:
                data, anc, _, sender = self.sock.recvmsg(2048, socket.CMSG_SPACE(12))
            except socket.timeout:
                return replies
            destination = None
            for level, kind, value in anc:
                if level == socket.IPPROTO_IP and kind == IP_PKTINFO:
                    destination = socket.inet_ntoa(value[8:12])
            replies.append((data, destination))
            self.senders.append(sender)
            # A second reply would come at once; no need to sit out the wait.
            deadline = min(deadline, time.monotonic() + 0.05)

    def close(self):
        self.sock.close()


class BoardTest(unittest.TestCase):
    def start(self, *options):
        board = Board(*options)
        self.addCleanup(lambda: board.proc.poll() is None and board.stop())
        client = Client()
        self.addCleanup(client.close)
        return board, client

    def answer(self, client, datagram, to=BROADCAST):
        replies = client.exchange(datagram, to)
        self.assertLessEqual(len(replies), 1, replies)
        return replies[0][0].hex().upper() if replies else None

    def test_application_answers(self):
        board, client = self.start("--version", "1.7", "--model-name", "KV-7", "--platform", "new")
        name16 = b"KV-7".ljust(16, b"\0").hex().upper()
        ip = "C0A86402"
        mac = MAC.hex().upper()
        cases = [
            ("ETH_REQ", bcast(0x00, "ETH_REQ", mac=None),
             "001F8000" + name16 + "00" + mac + ip),
            ("FWVER_REQ", bcast(0x01, "FWVER_REQ"), "000680010107"),
            ("SET_DHCPMODE", bcast(0x02, "SET_DHCPMODE"), "0005800206"),
            ("SET_IPADR", bcast(0x03, "SET_IPADR", bytes(8)), "0005800306"),
            ("RESET", bcast(0x04, "RESET"), "0005800406"),
            ("E2P_DEFAULT", bcast(0x06, "E2P_DEFAULT"), "0005800606"),
            ("E2P_READ check code", bcast(0x07, "E2P_READ", b"\xfe\x02"), "00068007AA55"),
            ("E2P_READ start", bcast(0x07, "E2P_READ", b"\x00\x04"), "0008800700010203"),
            ("E2P_READ past the end", bcast(0x07, "E2P_READ", b"\xff\x05"), "0005800755"),
            ("FWVER_REQ for another board", bcast(0x01, "FWVER_REQ", mac=OTHER_MAC), None),
            ("E2P_READ for another board", bcast(0x07, "E2P_READ", b"\xfe\x02", OTHER_MAC), None),
            ("length field too large", b"\x00\x14" + bcast(0x01, "FWVER_REQ")[2:], None),
            ("word not matching the code", bcast(0x01, "RESET"), None),
            ("MAC missing", bcast(0x01, "FWVER_REQ", mac=None), None),
            ("GET_MODELNAME", ucast(0x1F, "GET_MODELNAME"), "0014811F" + name16),
            ("GET_E2P256", ucast(0x1D, "GET_E2P256"),
             "0104811D" + bytes(range(254)).hex().upper() + "AA55"),
            ("REMOTE_ERASE", ucast(0xF1, "REMOTE_ERASE"), "000581F106"),
        ]
        for label, datagram, expected in cases:
            with self.subTest(label):
                to = UNICAST if datagram[2] == 0x81 else BROADCAST
                self.assertEqual(self.answer(client, datagram, to), expected)
        _, report = board.stop()
        by_command = {r["command"]: r for r in report["received"] if r.get("outcome") == "answered"}
        self.assertEqual(by_command["FWVER_REQ"]["to"], "255.255.255.255")
        self.assertEqual(by_command["FWVER_REQ"]["mac"], MAC.hex(":").upper())
        self.assertEqual(by_command["GET_E2P256"]["to"], BOARD_IP)
        outcomes = [r["outcome"] for r in report["received"]]
        self.assertEqual(outcomes.count("other-mac"), 2)
        self.assertEqual(outcomes.count("malformed"), 3)

    def test_model_name_is_kept_as_received(self):
        board, client = self.start("--model-name", "OLDNAME")
        self.assertEqual(self.answer(client, ucast(0x20, "SET_MODELNAME", b"QX-204\0"), UNICAST),
                         "0005812006")
        self.assertEqual(self.answer(client, ucast(0x1F, "GET_MODELNAME"), UNICAST),
                         "0014811F" + b"QX-204".ljust(16, b"\0").hex().upper())
        _, report = board.stop()
        sets = [r for r in report["received"] if r.get("command") == "SET_MODELNAME"]
        self.assertEqual([r["args"] for r in sets], ["51582D32303400"])
        self.assertEqual(report["final"]["model_name"], b"QX-204".ljust(16, b"\0").hex().upper())

    def test_platform_check_code(self):
        with tempfile.NamedTemporaryFile(suffix=".bin") as eeprom:
            eeprom.write(bytes([0x11] * 200))
            eeprom.flush()
            cases = [
                (("--platform", "old"), "00068007" + "0000"),
                (("--platform", "new"), "00068007" + "AA55"),
                (("--check-code", "FFFF"), "00068007" + "FFFF"),
                (("--eeprom-file", eeprom.name, "--platform", "old"), "00068007" + "0000"),
            ]
            for options, expected in cases:
                with self.subTest(options):
                    board, client = self.start(*options)
                    self.assertEqual(self.answer(client, bcast(0x07, "E2P_READ", b"\xfe\x02")),
                                     expected)
                    board.stop()
            board, client = self.start("--eeprom-file", eeprom.name)
            # Cells the file leaves out read as erased.
            self.assertEqual(self.answer(client, bcast(0x07, "E2P_READ", b"\xc6\x04")),
                             "000880071111FFFF")
            board.stop()

    def test_bootloader_ignored_twice_then_reboot(self):
        board, client = self.start("--ignore-first", "BOOTLOADER=2", "--reboot-delay", "1.0")
        replies = [self.answer(client, bcast(0x05, "BOOTLOADER")) for _ in range(3)]
        self.assertEqual(replies, [None, None, "0005800506"])
        self.assertEqual(self.answer(client, bcast(0x01, "FWVER_REQ")), "000680010107")
        time.sleep(1.2)
        self.assertIsNone(self.answer(client, bcast(0x01, "FWVER_REQ")))
        self.assertIsNone(self.answer(client, bcast(0x00, "ETH_REQ", mac=None)))
        status, report = board.stop()
        self.assertEqual(status, 0)
        self.assertEqual([r["outcome"] for r in report["received"]],
                         ["ignored", "ignored", "answered", "answered", "unanswered", "unanswered"])
        self.assertEqual([r["mode"] for r in report["received"]][-2:], ["bootloader"] * 2)
        self.assertEqual(report["final"]["mode"], "bootloader")

    def test_answer_by_broadcast(self):
        board, client = self.start("--answer-broadcast")
        replies = client.exchange(bcast(0x01, "FWVER_REQ"))
        self.assertEqual(replies, [(bytes.fromhex("000680010107"), "255.255.255.255")])
        _, report = board.stop()
        self.assertTrue(report["received"][0]["reply_to"].startswith("255.255.255.255:"))

    def test_silent_board_records_but_never_answers(self):
        board, client = self.start("--silent")
        self.assertIsNone(self.answer(client, bcast(0x01, "FWVER_REQ")))
        self.assertIsNone(self.answer(client, ucast(0x1F, "GET_MODELNAME"), UNICAST))
        _, report = board.stop()
        self.assertEqual([(r["command"], r["outcome"]) for r in report["received"]],
                         [("FWVER_REQ", "silent"), ("GET_MODELNAME", "silent")])

    def test_drops_follow_the_seed(self):
        patterns = []
        for _ in range(2):
            board, client = self.start("--drop", "0.5", "--seed", "7")
            answered = [self.answer(client, bcast(0x01, "FWVER_REQ")) is not None
                        for _ in range(12)]
            _, report = board.stop()
            self.assertEqual(len(report["received"]), 12)
            dropped = [r["outcome"] == "dropped" for r in report["received"]]
            self.assertEqual(answered, [not d for d in dropped])
            patterns.append(answered)
        self.assertEqual(patterns[0], patterns[1])
        self.assertIn(True, patterns[0])
        self.assertIn(False, patterns[0])

    def test_broadcast_not_tied_to_the_segment_misses_the_board(self):
        # The topology's default route leads away from the board: a request
        # that is not sent through the board's interface must not reach it.
        board, _ = self.start()
        loose = Client(bind_device=False)
        self.addCleanup(loose.close)
        self.assertEqual(loose.exchange(bcast(0x01, "FWVER_REQ")), [])
        _, report = board.stop()
        self.assertEqual(report["received"], [])

    def test_isp_bootloader_answers_from_another_address(self):
        # The host must follow the bootloader to the address and port it
        # answers from; the board takes lines there too.
        other = "192.168.100.3"
        subprocess.run(["ip", "-n", BOARD_NS, "addr", "add", other + "/24", "dev", "eth0"],
                       check=True)
        self.addCleanup(subprocess.run, ["ip", "-n", BOARD_NS, "addr", "del", other + "/24",
                                         "dev", "eth0"], check=False)
        flash = os.path.join(tempfile.mkdtemp(), "flash.bin")
        self.addCleanup(subprocess.run, ["rm", "-rf", os.path.dirname(flash)], check=False)
        board, client = self.start("--platform", "old", "--start-in", "bootloader",
                                   "--isp-reply-from", other + ":5003", "--flash-file", flash)
        self.assertEqual([r[0] for r in client.exchange(b"?\r\n", UNICAST)], [b"Synchronized\r\n"])
        self.assertEqual(client.senders, [(other, 5003)])
        self.assertEqual([r[0] for r in client.exchange(b"Synchronized\r\n", (other, 5003))],
                         [b"OK\r\n"])
        self.assertEqual(client.senders, [(other, 5003)])
        # The platform mark is still read through the broadcast command.
        self.assertEqual(self.answer(client, bcast(0x07, "E2P_READ", b"\xfe\x02")), "000680070000")
        status, report = board.stop()
        self.assertEqual(status, 0)
        self.assertEqual([(r.get("socket"), r["command"], r["outcome"])
                          for r in report["received"]],
                         [(None, "?", "answered"), ("isp-alt", "Synchronized", "answered"),
                          (None, "E2P_READ", "answered")])
        self.assertTrue(report["isp"]["synchronized"])
        self.assertEqual(os.path.getsize(flash), 512 * 1024)

    def host_socket(self, address="0.0.0.0", port=0, pinned=False):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.addCleanup(sock.close)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        if pinned:
            sock.setsockopt(socket.SOL_SOCKET, SO_BINDTODEVICE, HOST_IF.encode())
        sock.bind((address, port))
        sock.settimeout(5)
        return sock

    def board_addresses(self):
        shown = subprocess.run(["ip", "-n", BOARD_NS, "-4", "-o", "addr", "show", "dev", "eth0"],
                               capture_output=True, text=True, check=True).stdout
        return [line.split()[3] for line in shown.splitlines()]

    def test_network_bootloader_asks_from_0_0_0_0_and_reads_the_image(self):
        image_dir = tempfile.mkdtemp()
        self.addCleanup(subprocess.run, ["rm", "-rf", image_dir], check=False)
        image_path = os.path.join(image_dir, "image.bin")
        board, _ = self.start("--reboot-delay", "0.1", "--time-scale", "0.5",
                              "--image-file", image_path)
        bootp = self.host_socket(port=67, pinned=True)
        tftp = self.host_socket(HOST_IP, 69)
        transfer = self.host_socket(HOST_IP)
        # The application restarts into its bootloader on the magic packet.
        bootp.sendto(b"\xaa" * 6 + MAC * 4, ("255.255.255.255", 9))
        request, sender = bootp.recvfrom(1024)
        self.assertEqual(sender, ("0.0.0.0", 68))
        self.assertEqual((len(request), request[0], request[28:34]), (300, 1, MAC))
        self.assertEqual(self.board_addresses(), [])
        reply = bytearray(request)
        reply[0] = 2
        reply[16:24] = socket.inet_aton(BOARD_IP) + socket.inet_aton(HOST_IP)
        reply[108:121] = b"firmware.bin\0"
        bootp.sendto(bytes(reply), ("255.255.255.255", 68))
        rrq, peer = tftp.recvfrom(1024)
        self.assertEqual((rrq, peer[0]), (b"\0\x01firmware.bin\0octet\0", BOARD_IP))
        image = bytes((i * 3) & 0xFF for i in range(1000))
        for block in (1, 2):
            payload = image[(block - 1) * 512:block * 512]
            transfer.sendto(struct.pack(">HH", 3, block) + payload, peer)
            self.assertEqual(transfer.recvfrom(64), (struct.pack(">HH", 4, block), peer))
        status, report = board.stop()
        self.assertEqual(status, 0)
        with open(image_path, "rb") as f:
            self.assertEqual(f.read(), image)
        self.assertEqual([m["reason"] for m in report["modes"]], ["start", "magic"])
        self.assertEqual((report["netboot"]["complete"], report["netboot"]["address"]),
                         (True, BOARD_IP))
        self.assertEqual(self.board_addresses(), [BOARD_IP + "/24"])

    def test_report_written_on_sigint_too(self):
        board, client = self.start()
        self.answer(client, bcast(0x01, "FWVER_REQ"))
        board.proc.send_signal(2)
        status, report = board.stop()
        self.assertEqual(status, 0)
        self.assertEqual(len(report["received"]), 1)


if __name__ == "__main__":
    sys.exit(0 if unittest.main(exit=False, verbosity=2).result.wasSuccessful() else 1)
