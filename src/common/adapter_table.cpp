#include "common/adapter_table.h"

namespace kova {

void AdapterTable::Clear() {
  for (auto& desc : AdapterDesc) {
    desc.clear();
  }
  for (auto& ip : AdapterIP) {
    ip.fill(0);
  }
  for (auto& mac : AdapterMAC) {
    mac.fill(0);
  }
  Count = 0;
}

namespace {

uint8_t DigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<uint8_t>(c - '0');
  }
  if (c >= 'A' && c <= 'F') {
    return static_cast<uint8_t>(c - 'A' + 10);
  }
  if (c >= 'a' && c <= 'f') {
    return static_cast<uint8_t>(c - 'a' + 10);
  }
  return 255;
}

}  // namespace

std::array<uint8_t, 4> ParseAdapterAddress(const char* text) {
  std::array<uint8_t, 4> ip{};
  size_t byte = 0;
  for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
    if (*c == '.') {
      // A fifth part has no byte to go to.
      if (++byte == ip.size()) {
        break;
      }
      continue;
    }
    ip[byte] = static_cast<uint8_t>(ip[byte] * 10 + DigitValue(*c));
  }
  return ip;
}

}  // namespace kova
