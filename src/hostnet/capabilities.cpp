#include "hostnet/capabilities.h"

// What both systems' capability files share: the list is each system's own.

namespace kova {

bool HasEffectiveCapability(int capability) {
  uint64_t mask = 0;
  return capability >= 0 && capability < 64 && EffectiveCapabilities(mask) &&
         (mask >> capability & 1) != 0;
}

std::vector<int> MissingProgramCapabilities() {
  std::vector<int> missing;
  for (const ProgramCapability& cap : ProgramCapabilities()) {
    if (!HasEffectiveCapability(cap.number)) {
      missing.push_back(cap.number);
    }
  }
  return missing;
}

std::string CapabilityName(int capability) {
  for (const ProgramCapability& cap : ProgramCapabilities()) {
    if (cap.number == capability) {
      return cap.name;
    }
  }
  return "cap_" + std::to_string(capability);
}

}  // namespace kova
