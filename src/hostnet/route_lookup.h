#pragma once

#include <cstdint>

namespace kova {

// The host's choice of output interface for packets to `ip` (first octet
// first), as it would route them now (netlink on Linux, GetBestRoute on
// Windows). 0 and `ifindex` set, else the host's positive error number
// (host_error::kUnreachable when no unicast route leads there).
int LookupRouteInterface(const uint8_t ip[4], int& ifindex);

}  // namespace kova
