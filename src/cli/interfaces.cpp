#include "cli/interfaces.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "hostnet/adapter_list.h"

namespace kova::cli {

int FindInterface(const AdapterTable& table, const std::string& wanted) {
  for (int i = 0; i < table.Count; ++i) {
    if (table.AdapterDesc[i] == wanted) {
      return i;
    }
  }
  in_addr addr{};
  if (inet_pton(AF_INET, wanted.c_str(), &addr) == 1) {
    for (int i = 0; i < table.Count; ++i) {
      if (std::memcmp(table.AdapterIP[i].data(), &addr.s_addr, 4) == 0) {
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
