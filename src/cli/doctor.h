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
  // Every card of the station when the card is one of a station's (their
  // boards share one address); empty otherwise.
  std::vector<std::string> stationCards;
};

// Every check of the workstation an upgrade relies on, in a fixed order.
std::vector<DoctorCheck> RunDoctorChecks(const DoctorSetup& setup);

// "reverse-path": `card`'s reverse-path filtering, net.ipv4.conf.all's value
// `all` and the card's own `own` (-1: not known), against the interface the
// host routes the board's address through (`routedThrough`, empty: none).
DoctorCheck ReversePathCheck(const std::string& card, int all, int own,
                             const std::string& routedThrough);

// One line per check, OK or FAIL, each failure followed by its fix.
std::string DoctorReport(const std::vector<DoctorCheck>& checks);

}  // namespace kova::cli
