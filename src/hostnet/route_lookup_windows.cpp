#include <winsock2.h>
// After winsock2.h.
#include <iphlpapi.h>

#include <cstring>

#include "hostnet/route_lookup.h"
#include "platform/host_errors.h"

namespace kova {

int LookupRouteInterface(const uint8_t ip[4], int& ifindex) {
  DWORD destination = 0;
  std::memcpy(&destination, ip, 4);  // network order: the bytes as they stand
  MIB_IPFORWARDROW route{};
  const DWORD rc = GetBestRoute(destination, 0, &route);
  if (rc != NO_ERROR) {
    return static_cast<int>(rc);
  }
  if (route.dwForwardIfIndex == 0) {
    return host_error::kUnreachable;
  }
  ifindex = static_cast<int>(route.dwForwardIfIndex);
  return 0;
}

}  // namespace kova
