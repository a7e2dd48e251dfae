#include "cli/interfaces.h"

#include <cstdio>
#include <cstring>

#include "hostnet/adapter_list.h"

namespace kova::cli {

namespace {

// Four decimal octets, dot separated, nothing else.
bool ParseDotted(const std::string& text, uint8_t out[4]) {
  int octet = 0;
  int value = -1;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      value = (value < 0 ? 0 : value * 10) + (c - '0');
      if (value > 255) {
        return false;
      }
    } else if (c == '.' && value >= 0 && octet < 3) {
      out[octet++] = static_cast<uint8_t>(value);
      value = -1;
    } else {
      return false;
    }
  }
  if (octet != 3 || value < 0) {
    return false;
  }
  out[3] = static_cast<uint8_t>(value);
  return true;
}

}  // namespace

int FindInterface(const AdapterTable& table, const std::string& wanted) {
  for (int i = 0; i < table.Count; ++i) {
    if (table.AdapterDesc[i] == wanted) {
      return i;
    }
  }
  uint8_t addr[4];
  if (ParseDotted(wanted, addr)) {
    for (int i = 0; i < table.Count; ++i) {
      if (std::memcmp(table.AdapterIP[i].data(), addr, 4) == 0) {
        return i;
      }
    }
  }
  return -1;
}

void ListInterfaces() {
  AdapterTable table;
  const int count = Load_AdapterList(table);
  for (int i = 0; i < count; ++i) {
    const auto& ip = table.AdapterIP[i];
    const auto& mac = table.AdapterMAC[i];
    std::printf("%d  %s  %u.%u.%u.%u  %02X:%02X:%02X:%02X:%02X:%02X\n", i,
                table.AdapterDesc[i].c_str(), ip[0], ip[1], ip[2], ip[3], mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  }
}

}  // namespace kova::cli
