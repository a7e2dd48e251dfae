#include "controller/operator_input.h"

#include <cstring>

#include "common/hex_digit.h"

namespace kova {

int ReadIPField(const std::string& text, uint8_t ip[4]) {
  if (text.size() > 15) {
    return 0;
  }
  int octets[4] = {0, 0, 0, 0};
  int index = 0;
  int digits = 0;
  for (const char c : text) {
    if (c == '.') {
      if (++index > 3) {
        return 0;
      }
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 3) {
        return 0;
      }
      octets[index] = octets[index] * 10 + (c - '0');
      // A value above 255 would address another board once cut to 8 bits.
      if (octets[index] > 255) {
        return 0;
      }
    } else {
      return 0;
    }
  }
  if (index != 3) {
    return 0;
  }
  for (int i = 0; i < 4; ++i) {
    ip[i] = static_cast<uint8_t>(octets[i]);
  }
  return 1;
}

int ReadMACFields(const std::array<std::string, 6>& fields, uint8_t mac[6]) {
  uint8_t bytes[6] = {0, 0, 0, 0, 0, 0};
  bool valid = true;
  for (int i = 0; i < 6 && valid; ++i) {
    const std::string& field = fields[i];
    if (field.empty() || field.size() > 2) {
      valid = false;
      break;
    }
    int value = 0;
    for (const char c : field) {
      const int digit = HexValue(c);
      // A mistyped digit must not silently address a different board.
      if (digit < 0) {
        valid = false;
        break;
      }
      value = value * 16 + digit;
    }
    bytes[i] = static_cast<uint8_t>(value);
  }
  bool allZero = true;
  for (const uint8_t b : bytes) {
    allZero = allZero && b == 0;
  }
  if (!valid || allZero) {
    std::memset(mac, 0, 6);
    return 0;
  }
  std::memcpy(mac, bytes, 6);
  return 1;
}

void DeriveDeviceIP(const uint8_t host[4], uint8_t device[4]) {
  const uint8_t d = host[3];
  uint8_t last;
  if (d <= 2) {
    last = 2;
  } else if (d <= 252) {
    last = static_cast<uint8_t>(d + 1);
  } else {
    last = 253;
  }
  // The board must never be given the host's own address.
  if (last == d) {
    last = (d == 2) ? 3 : 252;
  }
  device[0] = host[0];
  device[1] = host[1];
  device[2] = host[2];
  device[3] = last;
}

}  // namespace kova
