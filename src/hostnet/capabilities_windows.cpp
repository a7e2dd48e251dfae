// On Windows the one right the tool needs is an elevated process (run as
// Administrator): the board's neighbour entry. Ports 67 and 69 need none.

#include <windows.h>

#include "hostnet/capabilities.h"
#include "platform/host_files.h"

namespace kova {

namespace {

bool Elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool known =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
  CloseHandle(token);
  return known && elevation.TokenIsElevated != 0;
}

}  // namespace

const std::vector<ProgramCapability>& ProgramCapabilities() {
  static const std::vector<ProgramCapability> kCapabilities = {
      {kCapNetAdmin, "Administrator", "the board's neighbour entry"},
  };
  return kCapabilities;
}

bool EffectiveCapabilities(uint64_t& mask) {
  mask = uint64_t{1} << kCapNetBindService;
  if (Elevated()) {
    mask |= uint64_t{1} << kCapNetAdmin;
  }
  return true;
}

std::string SetcapCommand(const std::string& path) {
  return "right-click " + (path.empty() ? std::string("the program") : path) +
         " and choose Run as administrator";
}

ProgramFile ThisProgram() {
  ProgramFile file;
  file.path = host::ExecutablePath();
  return file;
}

std::string MissingCapabilityText(int capability, const ProgramFile& program) {
  std::string use = "the tool";
  for (const ProgramCapability& cap : ProgramCapabilities()) {
    if (cap.number == capability) {
      use = cap.use;
    }
  }
  return "\n    Not running as Administrator (needed for " + use + ") ! Start " +
         (program.path.empty() ? std::string("the program") : program.path) +
         " elevated: right-click it and choose Run as administrator, or start it from an "
         "Administrator command prompt";
}

std::string MissingCapabilityText(int capability) {
  return MissingCapabilityText(capability, ThisProgram());
}

}  // namespace kova
