#!/usr/bin/env python3
"""Records the IPv4 UDP datagrams that cross one interface, both ways.

    udp_watch.py INTERFACE OUT.json READY_FILE

Runs until SIGTERM, then writes a list of {"dir", "src", "dst", "sport",
"dport", "length"} (dir "out" for what this host sent). The ready file gets
the pid once the packet socket listens. Python 3 standard library; root.
"""

import json
import os
import signal
import socket
import struct
import sys

ETH_P_ALL = 0x0003
ETH_P_IP = 0x0800
PACKET_OUTGOING = 4


def udp_fields(frame: bytes):
    """The fields of an IPv4 UDP datagram (the frame starts at its IP header), or None."""
    if len(frame) < 20 or frame[0] >> 4 != 4 or frame[9] != socket.IPPROTO_UDP:
        return None
    header = (frame[0] & 0x0F) * 4
    if len(frame) < header + 8:
        return None
    sport, dport, length = struct.unpack(">HHH", frame[header:header + 6])
    return {"src": socket.inet_ntoa(frame[12:16]), "dst": socket.inet_ntoa(frame[16:20]),
            "sport": sport, "dport": dport, "length": length - 8}


def main(argv) -> int:
    interface, out, ready = argv
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    # A datagram socket strips the link header. Only a socket for every
    # protocol sees the frames this host sends too.
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(ETH_P_ALL))
    sock.bind((interface, ETH_P_ALL))
    sock.settimeout(0.05)
    with open(ready, "w", encoding="ascii") as f:
        f.write("%d\n" % os.getpid())
    seen = []
    # What is still queued when the signal comes is read too.
    draining = False
    while True:
        try:
            frame, address = sock.recvfrom(65536)
        except (socket.timeout, BlockingIOError, InterruptedError):
            if draining:
                break
            if stopping:
                sock.setblocking(False)
                draining = True
            continue
        fields = udp_fields(frame) if address[1] == ETH_P_IP else None
        if fields is not None:
            fields["dir"] = "out" if address[2] == PACKET_OUTGOING else "in"
            seen.append(fields)
    with open(out, "w", encoding="ascii") as f:
        json.dump(seen, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
