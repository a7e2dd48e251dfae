#pragma once

#include <cstdint>

namespace kova {

// UU-encodes `n` bytes of `data` into `out` and returns the characters
// written: four for every three bytes, a last group of two completed with
// `fill`, a last single byte giving three characters. A 6-bit value of 0 is
// written as the grave accent, any other as itself plus 0x20. No length
// character and no line breaks are added.
int32_t UUEncode(int32_t n, const uint8_t* data, uint8_t* out, uint8_t fill);

}  // namespace kova
