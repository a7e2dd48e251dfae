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

}  // namespace kova
