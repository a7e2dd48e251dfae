#pragma once

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
  std::string interfaceName;  // as -i gives it; empty: the first adapter
  std::string directory;      // where KOVA_Config.cfg is; empty: the current one
  std::string program;        // this program's path, for the capability fix
};

// Every check of the workstation an upgrade relies on, in a fixed order.
std::vector<DoctorCheck> RunDoctorChecks(const DoctorSetup& setup);

// One line per check, OK or FAIL, each failure followed by its fix.
std::string DoctorReport(const std::vector<DoctorCheck>& checks);

}  // namespace kova::cli
