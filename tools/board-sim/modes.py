"""What a mode of the board is, as the main loop sees it.

A mode never touches a socket or the clock. It names the endpoints it listens
on, takes one datagram (or its own deadline) at a time with the time, and
answers with the datagrams to send and, at most, the mode to switch to. The
main loop owns the sockets and makes every switch.
"""

from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Tuple

import wire

LIMITED_BROADCAST = "255.255.255.255"
# The endpoint of the maintenance commands (and of the ISP lines).
COMMAND = "command"


@dataclass(frozen=True)
class Endpoint:
    name: str
    address: str = "0.0.0.0"
    port: int = 0
    # Bound to the board's interface: needed to send from 0.0.0.0.
    pinned: bool = False


@dataclass
class Datagram:
    endpoint: str
    data: bytes
    sender: Tuple[str, int]
    destination: Optional[str] = None  # the header's destination address
    ifindex: int = 0


@dataclass
class Send:
    data: bytes
    to: Tuple[str, int]
    endpoint: str
    # Set for a limited broadcast: it leaves through this interface.
    ifindex: int = 0
    # Names a datagram the board sends of its own accord (BOOTP, TFTP).
    kind: Optional[str] = None


@dataclass
class Switch:
    mode: str  # "application" or "bootloader"
    reason: str  # "command", "magic" or "start"


@dataclass
class Outcome:
    verdict: str  # answered, ignored, other-mac, unanswered, malformed, silent, ...
    sends: List[Send] = field(default_factory=list)
    details: Dict[str, Any] = field(default_factory=dict)  # more fields for the report
    switch: Optional[Switch] = None
    # The sends leave this many seconds later: the time the board takes to act.
    delay: float = 0.0


class Mode:
    """The defaults: no endpoint, no deadline, the interface left alone."""

    name = "?"

    def endpoints(self) -> List[Endpoint]:
        return []

    def interface_address(self) -> Optional[str]:
        """None: leave the interface as it is; "": no address; else that address."""
        return None

    def on_datagram(self, datagram: Datagram, now: float) -> Outcome:
        raise NotImplementedError

    def deadline(self) -> Optional[float]:
        return None

    def on_timer(self, now: float) -> Outcome:
        del now
        return Outcome("idle")

    def final_state(self) -> Dict[str, Any]:
        return {}


def reply(datagram: Datagram, data: bytes, opt, endpoint: Optional[str] = None) -> Send:
    """An answer to the sender, or to everyone with --answer-broadcast."""
    endpoint = endpoint or datagram.endpoint
    if opt.answer_broadcast:
        # The namespace has no default route: the limited broadcast leaves
        # through the interface the request came in on.
        return Send(data, (LIMITED_BROADCAST, datagram.sender[1]), endpoint,
                    ifindex=datagram.ifindex)
    return Send(data, datagram.sender, endpoint)


def frame_details(req: wire.Request) -> Dict[str, Any]:
    details = {"command": req.name, "args": req.args.hex().upper(),
               "mac": req.mac.hex(":").upper() if req.mac else None}
    if req.problem:
        details["problem"] = req.problem
    return details
