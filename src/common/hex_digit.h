#pragma once

#include <cstdint>

namespace kova {

// Byte dumps and version texts use upper-case digits, high nibble first.
inline char HexHigh(uint8_t byte) {
  return "0123456789ABCDEF"[byte >> 4];
}
inline char HexLow(uint8_t byte) {
  return "0123456789ABCDEF"[byte & 0x0F];
}

// The value of one hexadecimal digit, either case; -1 for anything else.
inline int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

}  // namespace kova
