"""The board after it has rebooted into its bootloader.

The application no longer answers. What takes its place depends on the
platform: an old-platform board speaks the serial-ISP text dialogue in UDP
datagrams on the same port; a new-platform board asks for its image by
BOOTP/TFTP. Neither is emulated yet: this mode takes every datagram and
answers none, and it is the place where those two dialogues go.
"""

from application import Outcome


class BootloaderMode:
    name = "bootloader"

    def __init__(self, platform: str):
        self.platform = platform

    def handle_datagram(self, datagram: bytes) -> Outcome:
        del datagram  # nothing emulated answers yet
        return Outcome("unanswered")
