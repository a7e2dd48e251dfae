#pragma once

#include <cstdint>

namespace kova {

// The kernel's choice of output interface for packets to `ip` (first octet
// first), as it would route them now. 0 and `ifindex` set, else a positive
// errno (ENETUNREACH when no unicast route leads there).
int LookupRouteInterface(const uint8_t ip[4], int& ifindex);

}  // namespace kova
