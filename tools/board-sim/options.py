"""The simulator's command line."""

import argparse

import wire
from board import parse_ipv4, parse_mac, parse_version

# Commands whose answer is a bare acknowledgement: the ones a board can refuse.
REFUSABLE = ("SET_DHCPMODE", "SET_IPADR", "RESET", "BOOTLOADER", "E2P_DEFAULT", "SET_MODELNAME",
             "REMOTE_ERASE", "SEND_FILE", "REMOTE_UPDATE", "CHECK_REMOTE_UPDATE")


def _kind_counts(p, option, items, allowed):
    """KIND=N items as (kind, n) pairs, in the order given."""
    pairs = []
    for item in items:
        kind, _, count = item.partition("=")
        if kind not in allowed or not count.isdigit():
            p.error("%s takes KIND=N with a command name, e.g. BOOTLOADER=2: %s" % (option, item))
        pairs.append((kind, int(count)))
    return pairs


def _boot_version(text: str) -> bytes:
    """The answer line to "b", without its CR LF."""
    if text == "none":
        return b"1"
    if text.startswith("V"):
        try:
            return b"V" + parse_version(text[1:])[:1] + b"." + parse_version(text[1:])[1:]
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error))
    if len(text) == 7 and text.startswith("BL") and text[3] == "." and text.isascii():
        return text.encode("ascii")
    raise argparse.ArgumentTypeError("V<major>.<minor>, BLx.yyy or none: %r" % text)


def _address_port(text: str):
    address, _, port = text.rpartition(":")
    try:
        parse_ipv4(address)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error))
    if not port.isdigit() or not 0 < int(port) < 65536:
        raise argparse.ArgumentTypeError("ADDRESS:PORT, e.g. 192.168.100.3:5003: %r" % text)
    return address, int(port)


def _count_seconds(text: str):
    count, _, seconds = text.partition(":")
    try:
        if not count.isdigit() or float(seconds) < 0:
            raise ValueError
        return int(count), float(seconds)
    except ValueError:
        raise argparse.ArgumentTypeError("N:SECONDS, e.g. 2:0.3: %r" % text)


def _share(text: str) -> float:
    value = float(text)
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError("a share between 0 and 1: %r" % text)
    return value


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        description="Plays one KOVA board: its application on UDP port 5002 (new platform: and "
        "the magic packet on port 9) and, after the BOOTLOADER command (new platform: or a "
        "magic packet), its bootloader: old platform, the ISP dialogue on port 5002; new "
        "platform, BOOTP from 0.0.0.0 and TFTP.",
        epilog="The report holds board, received (every datagram with its outcome), sent (what "
        "the board sent of its own accord), modes (every switch), final, remote (the remote "
        "update), power_cycles (SIGUSR1) and restarts (the board's own), each with the mode it "
        "came up in and its version, and isp (old platform) or netboot (new platform). SIGUSR1 "
        "power cycles the board: it comes up in its application, unless an ISP programming or "
        "a TFTP transfer was started and not completed.")
    p.add_argument("--mac", required=True, type=parse_mac, help="00:1A:2B:3C:4D:5E")
    p.add_argument("--ip", default=parse_ipv4("192.168.100.2"), type=parse_ipv4,
                   help="the address the ETH_REQ answer reports (default 192.168.100.2)")
    p.add_argument("--platform", choices=("old", "new"), default="new",
                   help="writes the platform check code into EEPROM 0xFE/0xFF and picks the "
                   "bootloader (default new)")
    p.add_argument("--check-code", type=bytes.fromhex, metavar="HEX4",
                   help="EEPROM 0xFE/0xFF instead of the platform's code, e.g. FFFF")
    p.add_argument("--version", default=parse_version("1.7"), type=parse_version,
                   help="firmware version bytes MAJOR.MINOR (default 1.7 = 0x01 0x07)")
    p.add_argument("--model-name", default="KV-100", help="up to 16 ASCII characters")
    p.add_argument("--eeprom-file",
                   help="EEPROM content, at most 256 bytes (default: 00 01 02 ...)")
    p.add_argument("--port", type=int, default=5002,
                   help="the command port, where the ISP bootloader listens too (default 5002)")
    p.add_argument("--start-in", choices=("application", "bootloader"), default="application",
                   help="the mode at start (default application); a new-platform bootloader "
                   "started directly waits for a magic packet before it asks for an address")
    p.add_argument("--reboot-delay", type=float, default=0.5, metavar="SECONDS",
                   help="after acknowledging BOOTLOADER (new platform: or taking a magic packet), "
                   "run the bootloader this much later (default 0.5)")
    p.add_argument("--answer-broadcast", action="store_true",
                   help="send every reply to 255.255.255.255 at the requester's port")
    p.add_argument("--silent", action="store_true",
                   help="receive and record, answer nothing, in every mode")
    p.add_argument("--silent-bootloader", action="store_true",
                   help="the bootloader answers no ISP line (the broadcast commands still are) "
                   "and sends no BOOTP request")
    p.add_argument("--ignore-first", action="append", default=[], metavar="KIND=N",
                   help="leave the first N requests of a kind unanswered (repeatable)")
    p.add_argument("--ignore-nth", action="append", default=[], metavar="KIND=N",
                   help="leave the Nth request of a kind unanswered (repeatable)")
    p.add_argument("--refuse", action="append", default=[], metavar="KIND=N",
                   help="answer the Nth request of a kind with NAK (0x15) instead of ACK and do "
                   "not act on it; kinds: " + ", ".join(REFUSABLE) + " (repeatable)")
    p.add_argument("--update-done-poll", type=int, default=1, metavar="N",
                   help="acknowledge CHECK_REMOTE_UPDATE from the Nth poll on; earlier polls get "
                   "no answer (default 1)")
    p.add_argument("--update-time", type=float, default=1.0, metavar="SECONDS",
                   help="with --strict, how long the application writes a remote update and "
                   "restarts, answering nothing, times --time-scale (default 1)")
    p.add_argument("--drop", type=_share, default=0.0, metavar="SHARE",
                   help="lose this share (0..1) of the incoming datagrams")
    p.add_argument("--drop-sent", type=_share, default=0.0, metavar="SHARE",
                   help="lose this share (0..1) of the datagrams the board sends")
    p.add_argument("--duplicate-sent", type=_share, default=0.0, metavar="SHARE",
                   help="send this share (0..1) of the datagrams the board sends twice, as a "
                   "segment that duplicates frames does")
    p.add_argument("--late-first", type=_count_seconds, default=(0, 0.0), metavar="N:SECONDS",
                   help="the board's first N answers leave SECONDS late (a board slow to "
                   "start answering)")
    p.add_argument("--seed", type=int, default=1,
                   help="seed of the drop and duplicate decisions")
    p.add_argument("--new-version", type=parse_version, metavar="MAJOR.MINOR",
                   help="the version the application reports once the board has restarted into "
                   "firmware written by any road (default: --version with its minor number plus "
                   "one); until that restart it reports --version")
    p.add_argument("--no-return", action="store_true",
                   help="after a restart into newly written firmware the board stays silent")
    p.add_argument("--strict", action="store_true",
                   help="hold the host to the board's own rules: one ISP line per datagram, "
                   "data lines up to the byte count of W, erase and copy taking a chip's time, "
                   "a network bootloader that restarts its transfer and its application, remote "
                   "lines only after an erase and an update only after an end record; what "
                   "breaks them is recorded as a protocol error")

    isp = p.add_argument_group("old-platform ISP bootloader")
    isp.add_argument("--isp-synchronized", action="store_true",
                     help='answer "1" to "?" (already synchronised) instead of "Synchronized"')
    isp.add_argument("--part-id", type=int, default=637615927,
                     help='the second answer line to "J" (default 637615927)')
    isp.add_argument("--boot-version", type=_boot_version, default=b"BL1.234", metavar="FORM",
                     help='the answer to "b": V<major>.<minor> ("V", a byte, ".", a byte), '
                     'BLx.yyy (text) or none (answers "1") (default BL1.234)')
    isp.add_argument("--resend-first", type=int, default=0, metavar="K",
                     help='answer "RESEND" to the first K checksum lines whatever they say')
    isp.add_argument("--isp-reply-from", type=_address_port, metavar="ADDRESS:PORT",
                     help="answer ISP lines from this address (which must be on the board's "
                     "interface) and port, and take lines there too")
    isp.add_argument("--lose-line", type=int, default=0, metavar="N",
                     help="lose the Nth data line the bootloader receives, once (default 0: none)")
    isp.add_argument("--erase-ms", type=float, default=100.0, metavar="MS",
                     help="with --strict, the time one sector's erase takes, times --time-scale "
                     "(default 100)")
    isp.add_argument("--copy-ms", type=float, default=1.0, metavar="MS",
                     help="with --strict, the time 256 bytes take to program, times --time-scale "
                     "(default 1)")
    isp.add_argument("--flash-init", metavar="FILE",
                     help="flash content at start, at most 512 KiB, padded with 0xFF (default: a "
                     "bootloader pattern in sectors 0-1, an older application in 2-29)")
    isp.add_argument("--flash-file", metavar="FILE",
                     help="where the 512 KiB flash content is written at exit")

    net = p.add_argument_group("new-platform network bootloader")
    net.add_argument("--chip", choices=("stellaris", "tiva"), default="stellaris",
                     help="the server name field of the BOOTP request (default stellaris)")
    net.add_argument("--bootp-mac", type=parse_mac, metavar="MAC",
                     help="put this MAC address in the BOOTP request instead of the board's")
    net.add_argument("--image-file", metavar="FILE",
                     help="where the image received by TFTP is written")
    net.add_argument("--time-scale", type=float, default=1.0, metavar="FACTOR",
                     help="multiplies the bootloader's time-outs: BOOTP 1 s doubling up to 4 s, "
                     "TFTP 2 s, five times before BOOTP again (default 1)")
    net.add_argument("--interface", metavar="NAME",
                     help="the board's interface (default: the namespace's only one besides lo)")
    net.add_argument("--keep-address", action="store_true",
                     help="leave the interface's address in place (BOOTP then leaves from it, "
                     "not from 0.0.0.0); by default the bootloader runs without one until its "
                     "server gives it one, and the address is put back at exit")

    p.add_argument("--report",
                   help="JSON record of what the board received and sent and of its state, "
                   "written at exit")
    p.add_argument("--ready-file", help="created once the ports are bound")
    p.add_argument("--verbose", action="store_true", help="one line per datagram on stderr")
    return p


def parse_options(argv):
    p = parser()
    opt = p.parse_args(argv)
    opt.ignore = dict(_kind_counts(p, "--ignore-first", opt.ignore_first, wire.COMMAND_NAMES))
    opt.ignore_at, opt.refuse_at = {}, {}
    for kind, n in _kind_counts(p, "--ignore-nth", opt.ignore_nth, wire.COMMAND_NAMES):
        opt.ignore_at.setdefault(kind, set()).add(n)
    for kind, n in _kind_counts(p, "--refuse", opt.refuse, REFUSABLE):
        opt.refuse_at.setdefault(kind, set()).add(n)
    if opt.check_code is not None and len(opt.check_code) != 2:
        p.error("--check-code takes two bytes, e.g. AA55")
    try:
        opt.model_name = opt.model_name.encode("ascii")
    except UnicodeEncodeError:
        p.error("--model-name must be ASCII")
    if len(opt.model_name) > 16:
        p.error("--model-name holds at most 16 characters")
    if opt.resend_first < 0 or opt.update_done_poll < 1:
        p.error("--resend-first counts from 0, --update-done-poll from 1")
    if opt.time_scale <= 0:
        p.error("--time-scale must be positive")
    if min(opt.lose_line, opt.erase_ms, opt.copy_ms, opt.update_time) < 0:
        p.error("--lose-line, --erase-ms, --copy-ms and --update-time take no negative value")
    if opt.new_version is None:
        opt.new_version = bytes([opt.version[0], (opt.version[1] + 1) & 0xFF])
    return opt
