#include "isp/uu_encode.h"

namespace kova {

namespace {

uint8_t UUChar(int value) {
  return value == 0 ? 0x60 : static_cast<uint8_t>(value + 0x20);
}

}  // namespace

int32_t UUEncode(int32_t n, const uint8_t* data, uint8_t* out, uint8_t fill) {
  int32_t count = 0;
  int32_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const int b0 = data[i];
    const int b1 = data[i + 1];
    const int b2 = data[i + 2];
    out[count++] = UUChar(b0 >> 2);
    out[count++] = UUChar(((b0 << 4) & 0x30) | (b1 >> 4));
    out[count++] = UUChar(((b1 << 2) & 0x3C) | (b2 >> 6));
    out[count++] = UUChar(b2 & 0x3F);
  }
  if (n - i == 2) {
    const int b0 = data[i];
    const int b1 = data[i + 1];
    out[count++] = UUChar(b0 >> 2);
    out[count++] = UUChar(((b0 << 4) & 0x30) | (b1 >> 4));
    out[count++] = UUChar(((b1 << 2) & 0x3C) | (fill >> 6));
    out[count++] = UUChar(fill & 0x3F);
  } else if (n - i == 1) {
    const int b0 = data[i];
    out[count++] = UUChar(b0 >> 2);
    out[count++] = UUChar(((b0 << 4) & 0x30) | (fill >> 4));
    out[count++] = UUChar((fill << 2) & 0x3C);
  }
  return count;
}

}  // namespace kova
