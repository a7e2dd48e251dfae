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

// The dotted text of an adapter's address, as the adapter list gives it on
// Windows, read the way the interface choice has always read it: each dot
// moves to the next byte, every other character c makes the byte
// byte * 10 + value(c) in 8 bits, where value is c's hexadecimal digit value
// (255 for a character that is none). "0.0.0.0" and valid dotted decimal
// come out as themselves.
std::array<uint8_t, 4> ParseAdapterAddress(const char* text);

}  // namespace kova
