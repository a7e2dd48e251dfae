#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kova {

// The workstation's network adapters as the interface choice lists them.
struct AdapterTable {
  static constexpr int kMaxAdapters = 120;

  std::array<std::string, kMaxAdapters> AdapterDesc;
  std::array<std::array<uint8_t, 4>, kMaxAdapters> AdapterIP{};
  std::array<std::array<uint8_t, 6>, kMaxAdapters> AdapterMAC{};
  int32_t Count = 0;

  void Clear();
};

// Fills the table from the kernel's interface list: every interface but
// loopback, in interface index order, with its name, its first IPv4 address
// (0.0.0.0 when it has none) and its hardware address. Returns the count.
int Load_AdapterList(AdapterTable& table);

}  // namespace kova
