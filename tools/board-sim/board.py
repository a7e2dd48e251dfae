"""What one emulated board is: identity, firmware version, model name, EEPROM."""

from dataclasses import dataclass, field

EEPROM_SIZE = 256
# The EEPROM bytes that hold the platform check code.
CHECK_CODE_ADDRESS = 0xFE
NEW_PLATFORM_CODE = bytes([0xAA, 0x55])
OLD_PLATFORM_CODE = bytes([0x00, 0x00])
MODEL_NAME_SIZE = 16


def parse_mac(text: str) -> bytes:
    digits = text.replace(":", "").replace("-", "")
    if len(digits) != 12:
        raise ValueError("a MAC address has six bytes: %r" % text)
    return bytes.fromhex(digits)


def parse_ipv4(text: str) -> bytes:
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isdigit() and int(p) <= 255 for p in parts):
        raise ValueError("not an IPv4 address: %r" % text)
    return bytes(int(p) for p in parts)


def parse_version(text: str) -> bytes:
    """MAJOR.MINOR, each a byte written in decimal or with 0x (1.7, 0x12.0x34)."""
    parts = text.split(".")
    if len(parts) != 2:
        raise ValueError("the version is MAJOR.MINOR: %r" % text)
    values = [int(p, 16) if p.lower().startswith("0x") else int(p, 10) for p in parts]
    if not all(0 <= v <= 255 for v in values):
        raise ValueError("version bytes are 0..255: %r" % text)
    return bytes(values)


def model_name_bytes(name: bytes) -> bytes:
    return name[:MODEL_NAME_SIZE].ljust(MODEL_NAME_SIZE, b"\x00")


def default_eeprom() -> bytearray:
    return bytearray(i & 0xFF for i in range(EEPROM_SIZE))


def load_eeprom(path: str) -> bytearray:
    """A short file is padded with erased cells (0xFF); a longer one is refused."""
    with open(path, "rb") as f:
        content = f.read(EEPROM_SIZE + 1)
    if len(content) > EEPROM_SIZE:
        raise ValueError("%s holds more than %d bytes" % (path, EEPROM_SIZE))
    return bytearray(content.ljust(EEPROM_SIZE, b"\xff"))


@dataclass
class Board:
    mac: bytes
    ip: bytes
    version: bytes
    model_name: bytes
    eeprom: bytearray = field(default_factory=default_eeprom)

    def set_check_code(self, code: bytes) -> None:
        self.eeprom[CHECK_CODE_ADDRESS:CHECK_CODE_ADDRESS + 2] = code

    def read_eeprom(self, address: int, count: int) -> bytes:
        return bytes(self.eeprom[address:min(address + count, EEPROM_SIZE)])

    def identity_payload(self) -> bytes:
        """The ETH_REQ answer: model name and DHCP mode, then MAC and IPv4 address."""
        return model_name_bytes(self.model_name) + b"\x00" + self.mac + self.ip
