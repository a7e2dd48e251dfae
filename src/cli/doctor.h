#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova::cli {

struct DoctorCheck {
  std::string name;  // "interface", "port-67", ...
  bool ok = false;
  std::string detail;
  std::string fix;  // what to do when it failed
};

struct DoctorSetup {
  std::string interface;  // as -i gives it; empty: the first adapter
  std::string directory;  // where KOVA_Config.cfg is; empty: the current one
  std::string program;    // this program's path, for the capability fix
};

// Every check of the workstation an upgrade relies on, in a fixed order.
std::vector<DoctorCheck> RunDoctorChecks(const DoctorSetup& setup);

// One line per check, OK or FAIL, each failure followed by its fix.
std::string DoctorReport(const std::vector<DoctorCheck>& checks);

// Who holds UDP `port` in this network namespace, "NAME (pid N)", as far
// as /proc tells; empty when it does not.
std::string UdpPortHolder(uint16_t port);

// 0 when UDP `port` can be bound on any address (tied to `device` where
// that is allowed, as the boot server does), else the errno.
int ProbeUdpPort(uint16_t port, const std::string& device);

}  // namespace kova::cli
