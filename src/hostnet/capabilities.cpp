#include "hostnet/capabilities.h"

#include <linux/capability.h>

#include <cstdlib>
#include <fstream>

namespace kova {

const std::vector<NetCapability>& NeededCapabilities() {
  static const std::vector<NetCapability> needed = {
      {CAP_NET_ADMIN, "cap_net_admin", "the board's neighbour entry"},
      {CAP_NET_RAW, "cap_net_raw", "tying sockets to the interface"},
      {CAP_NET_BIND_SERVICE, "cap_net_bind_service", "the boot server's ports 67 and 69"},
  };
  return needed;
}

bool ReadEffectiveCapabilities(uint64_t& mask) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0) {
      char* end = nullptr;
      const char* digits = line.c_str() + 7;
      mask = std::strtoull(digits, &end, 16);
      return end != digits;
    }
  }
  return false;
}

std::vector<NetCapability> MissingCapabilities(uint64_t effective) {
  std::vector<NetCapability> missing;
  for (const NetCapability& cap : NeededCapabilities()) {
    if ((effective & (uint64_t{1} << cap.number)) == 0) {
      missing.push_back(cap);
    }
  }
  return missing;
}

std::string CapabilityFix(const std::string& program) {
  std::string names;
  for (const NetCapability& cap : NeededCapabilities()) {
    names += (names.empty() ? "" : ",") + std::string(cap.name);
  }
  return "run as root, or: setcap " + names + "+ep " + program;
}

}  // namespace kova
