#include "platform/neighbour_table.h"

#include <cstring>

namespace kova {

const NeighbourEntry* FindNeighbour(const std::vector<NeighbourEntry>& rows, int ifindex,
                                    const uint8_t ip[4]) {
  for (const NeighbourEntry& row : rows) {
    if (row.ifindex == ifindex && std::memcmp(row.ip.data(), ip, 4) == 0) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace kova
