#include "hostnet/adapter_list.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kova {

namespace {

struct Found {
  unsigned index = 0;
  std::string name;
  bool hasIP = false;
  std::array<uint8_t, 4> ip{};
  std::array<uint8_t, 6> mac{};
};

Found& Entry(std::vector<Found>& found, const char* name) {
  for (auto& f : found) {
    if (f.name == name) {
      return f;
    }
  }
  found.push_back(Found{});
  found.back().name = name;
  found.back().index = if_nametoindex(name);
  return found.back();
}

}  // namespace

int Load_AdapterList(AdapterTable& table) {
  table.Clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    return 0;
  }
  std::vector<Found> found;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_name == nullptr || (it->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    Found& f = Entry(found, it->ifa_name);
    if (it->ifa_addr == nullptr) {
      continue;
    }
    if (it->ifa_addr->sa_family == AF_INET && !f.hasIP) {
      const auto* sin = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
      std::memcpy(f.ip.data(), &sin->sin_addr.s_addr, 4);
      f.hasIP = true;
    } else if (it->ifa_addr->sa_family == AF_PACKET) {
      const auto* sll = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
      const size_t n = std::min<size_t>(sll->sll_halen, f.mac.size());
      std::memcpy(f.mac.data(), sll->sll_addr, n);
    }
  }
  freeifaddrs(list);
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.index < b.index; });
  int count = 0;
  for (const Found& f : found) {
    if (count == AdapterTable::kMaxAdapters) {
      break;
    }
    table.AdapterDesc[count] = f.name;
    table.AdapterIP[count] = f.ip;
    table.AdapterMAC[count] = f.mac;
    ++count;
  }
  table.Count = count;
  return count;
}

}  // namespace kova
