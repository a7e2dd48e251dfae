"""The board's running application: answers the maintenance commands."""

from dataclasses import dataclass
from typing import Dict, Optional

import wire
from board import Board, model_name_bytes

# Broadcast commands that only need an acknowledgement.
_ACKNOWLEDGED = {"SET_DHCPMODE", "SET_IPADR", "RESET", "BOOTLOADER", "E2P_DEFAULT"}


@dataclass
class Outcome:
    verdict: str  # answered, ignored, other-mac, unanswered, malformed
    reply: Optional[bytes] = None
    reboot_to_bootloader: bool = False


class ApplicationMode:
    name = "application"

    def __init__(self, board: Board, ignore_first: Dict[str, int]):
        self._board = board
        self._ignore_left = dict(ignore_first)

    def handle(self, req: wire.Request) -> Outcome:
        if req.problem is not None:
            return Outcome("malformed")
        for_anyone = req.table != wire.BROADCAST_TABLE or req.name == "ETH_REQ"
        if not for_anyone and req.mac != self._board.mac:
            return Outcome("other-mac")
        if self._ignore_left.get(req.name, 0) > 0:
            self._ignore_left[req.name] -= 1
            return Outcome("ignored")
        if req.table == wire.BROADCAST_TABLE:
            return self._broadcast(req)
        return self._unicast(req)

    def _broadcast(self, req: wire.Request) -> Outcome:
        table, code = wire.BROADCAST_TABLE, req.code
        if req.name == "ETH_REQ":
            return Outcome("answered", wire.frame(table, code, self._board.identity_payload()))
        if req.name == "FWVER_REQ":
            return Outcome("answered", wire.frame(table, code, self._board.version))
        if req.name == "E2P_READ":
            address, count = req.args[0], req.args[1]
            return Outcome("answered",
                           wire.frame(table, code, self._board.read_eeprom(address, count)))
        if req.name in _ACKNOWLEDGED:
            return Outcome("answered", wire.ack(table, code),
                           reboot_to_bootloader=req.name == "BOOTLOADER")
        return Outcome("unanswered")

    def _unicast(self, req: wire.Request) -> Outcome:
        table, code = wire.UNICAST_TABLE, req.code
        if req.name == "GET_MODELNAME":
            return Outcome("answered",
                           wire.frame(table, code, model_name_bytes(self._board.model_name)))
        if req.name == "SET_MODELNAME":
            self._board.model_name = bytes(req.args)
            return Outcome("answered", wire.ack(table, code))
        if req.name == "GET_E2P256":
            return Outcome("answered", wire.frame(table, code, bytes(self._board.eeprom)))
        # The remote-update commands are not emulated yet.
        return Outcome("unanswered")
