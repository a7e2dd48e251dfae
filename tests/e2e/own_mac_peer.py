#!/usr/bin/env python3
"""A peer with a MAC and an address of its own on the board's segment, behind
a bridge that floods the board's frames to it: it sees what the host sends
the board and answers first, from its own address, as the board would.

    own_mac_peer.py INTERFACE OWN_ADDRESS BOARD_MAC REPORT READY ROLE...

ROLE: isp (answers every ISP line as a bootloader that takes everything),
address (answers ETH_REQ naming BOARD_MAC and reporting OWN_ADDRESS), acks
(acknowledges the remote update's commands). Runs until SIGTERM, then writes
{"answered": {kind: count}} to REPORT. Python 3 standard library; root.
"""

import json
import signal
import socket
import sys

ETH_P_IP = 0x0800
PORT = 5002
REMOTE_CODES = (0xF1, 0xF2, 0xF3, 0xF4)


def udp_to_board_port(packet: bytes):
    """(source address, source port, payload) of an IPv4 UDP datagram to PORT, or None."""
    if len(packet) < 28 or packet[0] >> 4 != 4 or packet[9] != socket.IPPROTO_UDP:
        return None
    header = (packet[0] & 0x0F) * 4
    sport = int.from_bytes(packet[header:header + 2], "big")
    dport = int.from_bytes(packet[header + 2:header + 4], "big")
    length = int.from_bytes(packet[header + 4:header + 6], "big")
    if dport != PORT:
        return None
    return socket.inet_ntoa(packet[12:16]), sport, packet[header + 8:header + length]


def isp_answers(line: str):
    """What a bootloader that takes every command says to a line."""
    if line == "?":
        return ["Synchronized"]
    if line == "Synchronized":
        return ["OK"]
    if line == "J":
        return ["0", "637615927"]
    if line == "b":
        return ["BL1.234"]
    if line[:1] in ("U", "P", "E", "W", "C"):
        return ["0"]
    if line.isdigit() and len(line) <= 10:  # a checksum
        return ["OK"]
    return []  # a data line


def answers(roles, data: bytes, own: bytes, board_mac: bytes):
    """(kind, datagrams) for one datagram the host sent to the board's port."""
    if len(data) >= 4 and data[2] == 0x80 and data[3] == 0x00 and "address" in roles:
        return "address", [bytes([0x00, 31, 0x80, 0x00]) + bytes(17) + board_mac + own]
    if len(data) >= 4 and data[2] == 0x81 and data[3] in REMOTE_CODES and "acks" in roles:
        return "ack", [bytes([0x00, 0x05, 0x81, data[3], 0x06])]
    if "isp" in roles and data[:1] not in (b"", b"\x00"):
        lines = data.decode("latin-1").split("\r\n")[:-1]
        return "isp", [a.encode() + b"\r\n" for line in lines for a in isp_answers(line)]
    return None, []


def main(argv) -> int:
    interface, own, board_mac, report, ready = argv[:5]
    roles = set(argv[5:])
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    sniff = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_IP))
    sniff.bind((interface, ETH_P_IP))
    sniff.settimeout(0.05)
    answer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    answer.bind((own, PORT))
    own_bytes = socket.inet_aton(own)
    mac = bytes.fromhex(board_mac.replace(":", ""))
    answered = {}
    open(ready, "w").close()
    while not stopping:
        try:
            packet = sniff.recv(65536)
        except (socket.timeout, InterruptedError):
            continue
        found = udp_to_board_port(packet)
        if found is None or found[0] == own:
            continue
        kind, replies = answers(roles, found[2], own_bytes, mac)
        for reply in replies:
            answer.sendto(reply, (found[0], found[1]))
        if replies:
            answered[kind] = answered.get(kind, 0) + 1
    with open(report, "w", encoding="ascii") as f:
        json.dump({"answered": answered}, f)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
