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

}  // namespace kova
