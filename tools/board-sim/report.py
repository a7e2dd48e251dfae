"""The record of everything the board received and did, written as JSON."""

import json
import os
from typing import Optional


def hex_bytes(data: Optional[bytes]) -> Optional[str]:
    return None if data is None else data.hex().upper()


class Report:
    def __init__(self, path: Optional[str], board_facts: dict):
        self._path = path
        self._facts = board_facts
        self.received = []
        self.sent = []  # datagrams the board sent of its own accord
        self.modes = []

    def add(self, **entry) -> None:
        self.received.append(entry)

    def add_sent(self, **entry) -> None:
        self.sent.append(entry)

    def add_switch(self, **entry) -> None:
        self.modes.append(entry)

    def write(self, final_state: dict, sections: dict) -> None:
        if not self._path:
            return
        document = {"board": self._facts, "received": self.received, "sent": self.sent,
                    "modes": self.modes, "final": final_state}
        document.update(sections)
        # Readers never see a half-written file.
        temporary = self._path + ".tmp"
        with open(temporary, "w", encoding="utf-8") as f:
            json.dump(document, f, indent=1)
            f.write("\n")
        os.replace(temporary, self._path)
