#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova {

// The file capabilities both programs are installed with, numbered as in
// <linux/capability.h>. Binding a socket to an interface needs none: since
// Linux 5.7 any process may tie a socket that is not yet tied to a device.
constexpr int kCapNetBindService = 10;  // the boot server's ports 67 and 69
constexpr int kCapNetAdmin = 12;        // the board's entry in the neighbour table

struct ProgramCapability {
  int number;
  const char* name;  // as setcap and getcap spell it
  const char* use;   // what of the tool needs it
};

// Every capability the programs need, lowest number first.
const std::vector<ProgramCapability>& ProgramCapabilities();

// The group whose members may run the installed programs.
constexpr const char* kProgramGroup = "kova-upgrade";
// The package that installs the programs with their capabilities.
constexpr const char* kPackageName = "kova-upgrade";

// This process's effective capability set, bit n for capability n; false
// (and an empty set) when the kernel does not say.
bool EffectiveCapabilities(uint64_t& mask);
bool HasEffectiveCapability(int capability);
// The programs' capabilities that this process lacks, lowest number first.
std::vector<int> MissingProgramCapabilities();

// "cap_net_admin"; "cap_N" for one the programs do not use.
std::string CapabilityName(int capability);

// The command that gives `path` the programs' capabilities:
// "setcap cap_net_bind_service,cap_net_admin=ep PATH".
std::string SetcapCommand(const std::string& path);

// The file this process runs from, and whether its mount ignores file
// capabilities (nosuid).
struct ProgramFile {
  std::string path;
  bool nosuid = false;
};
ProgramFile ThisProgram();

// The message-list line for a capability this process lacks: which one,
// what needs it and how to get it.
std::string MissingCapabilityText(int capability, const ProgramFile& program);
std::string MissingCapabilityText(int capability);

}  // namespace kova
