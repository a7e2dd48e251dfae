#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova {

// A capability an upgrade needs, and what for.
struct NetCapability {
  int number;           // CAP_NET_ADMIN, ...
  const char* name;     // "cap_net_admin", as setcap and capsh spell it
  const char* purpose;  // what fails without it
};

// The three: the neighbour entry, the device binding, ports 67 and 69.
const std::vector<NetCapability>& NeededCapabilities();

// The effective capability set of this process (CapEff of
// /proc/self/status); false when it cannot be read.
bool ReadEffectiveCapabilities(uint64_t& mask);

// The needed capabilities missing from `effective`.
std::vector<NetCapability> MissingCapabilities(uint64_t effective);

// How to grant the needed capabilities to `program`: run it as root, or
// give the file all three (setcap replaces a file's whole set).
std::string CapabilityFix(const std::string& program);

}  // namespace kova
