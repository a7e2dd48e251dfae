#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/neighbour_table.h"

namespace kova {

// The kernel's neighbour table over routing netlink. Every result below is 0
// or a positive errno.

// Reads the IPv4 rows of the table.
int DumpNeighbours(std::vector<NeighbourEntry>& rows);

// Binds `ip` to `mac` on the interface with a permanent entry. EEXIST only
// when a permanent entry for `ip` is there already, which is left as it is;
// an entry that the kernel learnt itself is replaced.
int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]);

// Removes the entry for `ip` on the interface, whatever its kind; ENOENT when
// there is none.
int DeleteNeighbour(int ifindex, const uint8_t ip[4]);

// The host's own tables behind the engine's neighbour-table interface.
std::unique_ptr<NeighbourTable> MakeLinuxNeighbourTable();

}  // namespace kova
