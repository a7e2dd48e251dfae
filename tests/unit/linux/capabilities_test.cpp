// Linux only: the kernel's capability sets and their advice texts.
#include "hostnet/capabilities.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace kova {
namespace {

// The kernel's own account of the effective set, as /proc shows it.
bool ProcEffectiveSet(uint64_t& mask) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0) {
      mask = std::stoull(line.substr(7), nullptr, 16);
      return true;
    }
  }
  return false;
}

TEST(CapabilitiesTest, TheEffectiveSetIsTheOneTheKernelShows) {
  uint64_t expected = 0;
  ASSERT_TRUE(ProcEffectiveSet(expected));
  uint64_t mask = 0;
  ASSERT_TRUE(EffectiveCapabilities(mask));
  EXPECT_EQ(mask, expected);
  for (int cap = 0; cap < 64; ++cap) {
    EXPECT_EQ(HasEffectiveCapability(cap), (expected >> cap & 1) != 0) << cap;
  }
  EXPECT_FALSE(HasEffectiveCapability(-1));
  EXPECT_FALSE(HasEffectiveCapability(64));
  for (int cap : MissingProgramCapabilities()) {
    EXPECT_FALSE(HasEffectiveCapability(cap)) << cap;
  }
}

TEST(CapabilitiesTest, TheMessageNamesTheCapabilityItsUseAndTheWayToGetIt) {
  const struct {
    int cap;
    const char* path;
    bool nosuid;
    const char* text;
  } cases[] = {
      {kCapNetAdmin, "/home/dev/kova/build/kova-upgrade", false,
       "\n    Missing capability cap_net_admin (needed for the board's neighbour entry) ! Give the "
       "program its capabilities: sudo setcap cap_net_bind_service,cap_net_admin=ep "
       "/home/dev/kova/build/kova-upgrade (the kova-upgrade package does this at installation, "
       "for the members of the group kova-upgrade)"},
      {kCapNetBindService, "/usr/bin/kova-upgrade-tool", false,
       "\n    Missing capability cap_net_bind_service (needed for the boot server's ports 67 and "
       "69) ! Give the program its capabilities: sudo setcap "
       "cap_net_bind_service,cap_net_admin=ep /usr/bin/kova-upgrade-tool (the kova-upgrade "
       "package does this at installation, for the members of the group kova-upgrade)"},
      {kCapNetAdmin, "/media/usb/kova-upgrade", true,
       "\n    Missing capability cap_net_admin (needed for the board's neighbour entry) ! "
       "/media/usb/kova-upgrade is on a nosuid mount, where file capabilities have no effect: "
       "run a copy on another file system, or the installed program (the kova-upgrade package "
       "gives it its capabilities, for the members of the group kova-upgrade)"},
      {kCapNetAdmin, "", false,
       "\n    Missing capability cap_net_admin (needed for the board's neighbour entry) ! Run the "
       "installed program (the kova-upgrade package gives it its capabilities, for the members "
       "of the group kova-upgrade)"},
  };
  for (const auto& c : cases) {
    ProgramFile program;
    program.path = c.path;
    program.nosuid = c.nosuid;
    EXPECT_EQ(MissingCapabilityText(c.cap, program), c.text);
  }
}

}  // namespace
}  // namespace kova
