#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kova {

// One IPv4 row of the kernel's neighbour table.
struct NeighbourEntry {
  int ifindex = 0;
  std::array<uint8_t, 4> ip{};  // first octet first
  std::array<uint8_t, 6> mac{};
  bool hasMac = false;
  uint16_t state = 0;  // NUD_* bits

  // Entered by hand and never aged: the kind the tool installs.
  bool Permanent() const;
};

// Every result below is 0 or a positive errno.

// Reads the IPv4 rows of the table.
int DumpNeighbours(std::vector<NeighbourEntry>& rows);

// The row for `ip` on interface `ifindex`, or null.
const NeighbourEntry* FindNeighbour(const std::vector<NeighbourEntry>& rows, int ifindex,
                                    const uint8_t ip[4]);

// Binds `ip` to `mac` on the interface with a permanent entry. EEXIST only
// when a permanent entry for `ip` is there already, which is left as it is;
// an entry that the kernel learnt itself is replaced.
int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]);

// Removes the entry for `ip` on the interface, whatever its kind; ENOENT when
// there is none.
int DeleteNeighbour(int ifindex, const uint8_t ip[4]);

}  // namespace kova
