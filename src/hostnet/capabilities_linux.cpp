#include "hostnet/capabilities.h"

#include <linux/capability.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

namespace kova {

const std::vector<ProgramCapability>& ProgramCapabilities() {
  static const std::vector<ProgramCapability> kCapabilities = {
      {kCapNetBindService, "cap_net_bind_service", "the boot server's ports 67 and 69"},
      {kCapNetAdmin, "cap_net_admin", "the board's neighbour entry"},
  };
  return kCapabilities;
}

bool EffectiveCapabilities(uint64_t& mask) {
  mask = 0;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  // Called directly: libcap is not worth a dependency for one read.
  if (syscall(SYS_capget, &header, data) != 0) {
    return false;
  }
  mask = static_cast<uint64_t>(data[0].effective) | static_cast<uint64_t>(data[1].effective) << 32;
  return true;
}

std::string SetcapCommand(const std::string& path) {
  std::string names;
  for (const ProgramCapability& cap : ProgramCapabilities()) {
    names += (names.empty() ? "" : ",") + std::string(cap.name);
  }
  return "setcap " + names + "=ep " + path;
}

ProgramFile ThisProgram() {
  ProgramFile file;
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) {
    return file;
  }
  file.path.assign(path, static_cast<size_t>(n));
  struct statvfs fs {};
  file.nosuid = statvfs(file.path.c_str(), &fs) == 0 && (fs.f_flag & ST_NOSUID) != 0;
  return file;
}

std::string MissingCapabilityText(int capability, const ProgramFile& program) {
  std::string use = "the tool";
  for (const ProgramCapability& cap : ProgramCapabilities()) {
    if (cap.number == capability) {
      use = cap.use;
    }
  }
  const std::string package = std::string("the ") + kPackageName +
                              " package gives it its capabilities, for the members of the group " +
                              kProgramGroup;
  const std::string text =
      "\n    Missing capability " + CapabilityName(capability) + " (needed for " + use + ") ! ";
  if (program.path.empty()) {
    return text + "Run the installed program (" + package + ")";
  }
  if (program.nosuid) {
    return text + program.path +
           " is on a nosuid mount, where file capabilities have no effect: run a copy on "
           "another file system, or the installed program (" +
           package + ")";
  }
  return text + "Give the program its capabilities: sudo " + SetcapCommand(program.path) +
         " (the " + kPackageName +
         " package does this at installation, for the members of the group " + kProgramGroup + ")";
}

std::string MissingCapabilityText(int capability) {
  return MissingCapabilityText(capability, ThisProgram());
}

}  // namespace kova
