"""The board's one interface and its IPv4 address.

The network bootloader starts without an address, as the real one does after
a reset, so that its BOOTP requests leave from 0.0.0.0; it takes the address
its server gives it. The interface is put back as it was found when the
board ends.
"""

import socket
import subprocess
from typing import List, Optional


def only_interface() -> str:
    """The namespace's interface besides the loopback one."""
    names = [name for _, name in socket.if_nameindex() if name != "lo"]
    if len(names) != 1:
        raise ValueError("cannot choose the board's interface among %s: use --interface"
                         % (", ".join(names) or "none"))
    return names[0]


def _ip(*args: str) -> str:
    done = subprocess.run(["ip"] + list(args), capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise OSError("ip %s: %s" % (" ".join(args), done.stderr.strip()))
    return done.stdout


class InterfaceAddress:
    def __init__(self, name: str):
        self.name = name
        self._original: Optional[List[List[str]]] = None

    def _current(self) -> List[List[str]]:
        """Each address as the words that add it again: ADDRESS/PREFIX [brd BROADCAST]."""
        found = []
        for line in _ip("-4", "-o", "addr", "show", "dev", self.name).splitlines():
            words = line.split()
            if "inet" not in words:
                continue
            address = [words[words.index("inet") + 1]]
            if "brd" in words:
                address += ["brd", words[words.index("brd") + 1]]
            found.append(address)
        return found

    def _prefix(self) -> str:
        for address in self._original or []:
            return address[0].partition("/")[2]
        return "24"

    def set(self, wanted: str) -> None:
        """"" leaves the interface without an address; else it carries `wanted` alone."""
        current = self._current()
        if self._original is None:
            self._original = current
        target = [] if wanted == "" else [["%s/%s" % (wanted, self._prefix())]]
        if [a[0] for a in current] != [a[0] for a in target]:
            self._replace(target)

    def restore(self) -> None:
        if self._original is not None and self._current() != self._original:
            self._replace(self._original)

    def _replace(self, addresses: List[List[str]]) -> None:
        _ip("-4", "addr", "flush", "dev", self.name)
        for address in addresses:
            _ip("addr", "add", *address, "dev", self.name)
