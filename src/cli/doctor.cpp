#include "cli/doctor.h"

#include <algorithm>

#include "cli/doctor_host.h"
#include "cli/interfaces.h"
#include "common/message_log.h"
#include "common/operation_events.h"
#include "common/shared_buffers.h"
#include "config/config_file.h"
#include "config/config_values.h"
#include "controller/operator_input.h"
#include "hostnet/adapter_list.h"

namespace kova::cli {

namespace {

// Collects what the configuration reader reports, shows nothing.
class QuietPanel : public SilentPanel {
 public:
  void ReportFileProblem(const std::string& path, const std::string& reason) override {
    if (firstProblem.empty()) {
      firstProblem = path + ": " + reason;
    }
  }
  std::string firstProblem;
};

}  // namespace

DoctorCheck Check(const char* name, bool ok, std::string detail, std::string fix) {
  return {name, ok, std::move(detail), ok ? "" : std::move(fix)};
}

DoctorCheck ReversePathCheck(const std::string& card, int all, int own,
                             const std::string& routedThrough) {
  const int effective = std::max(all, own);
  const std::string where = "reverse-path filtering on " + card;
  if (effective < 0) {
    return Check("reverse-path", true, where + " is not known");
  }
  if (effective != 1) {
    return Check("reverse-path", true, where + (effective == 0 ? " is off" : " is loose"));
  }
  if (routedThrough.empty() || routedThrough == card) {
    return Check(
        "reverse-path", true,
        where + " is strict" +
            (routedThrough.empty() ? std::string()
                                   : ", and the board's address is routed through " + card));
  }
  // The kernel takes the stricter of the two: each one set to strict must
  // be relaxed. A dot in an interface's name is a slash in sysctl's key.
  std::string key = card;
  std::replace(key.begin(), key.end(), '.', '/');
  std::string settings;
  if (all == 1) {
    settings += " net.ipv4.conf.all.rp_filter=2";
  }
  if (own == 1) {
    settings += " net.ipv4.conf." + key + ".rp_filter=2";
  }
  return Check("reverse-path", false,
               where +
                   " is strict and drops the board's replies: the board's address is "
                   "routed through " +
                   routedThrough + ", not " + card,
               "sysctl -w" + settings + " (2: loose; 0: off)");
}

std::vector<DoctorCheck> RunDoctorChecks(const DoctorSetup& setup) {
  std::vector<DoctorCheck> checks;
  AdapterTable adapters;
  Load_AdapterList(adapters);
  const int sel = setup.interfaceName.empty() ? (adapters.Count > 0 ? 0 : -1)
                                              : FindInterface(adapters, setup.interfaceName);
  const std::string name = sel >= 0 ? adapters.AdapterDesc[sel] : setup.interfaceName;
  if (sel < 0) {
    checks.push_back(Check("interface", false,
                           setup.interfaceName.empty() ? std::string("no network interface")
                                                       : "no interface " + setup.interfaceName,
                           "kova-upgrade --list-interfaces shows the interfaces"));
  } else {
    checks.push_back(Check("interface", true, "interface " + name + " exists"));
    checks.push_back(LinkCheck(name));
    const uint8_t* host = adapters.AdapterIP[sel].data();
    const bool addressed = host[0] != 0 || host[1] != 0 || host[2] != 0 || host[3] != 0;
    checks.push_back(
        Check("address", addressed,
              addressed ? name + " has " + DottedText(host) : name + " has no IPv4 address",
              AddressFix(name)));
    std::string routedThrough;
    if (addressed) {
      uint8_t board[4];
      DeriveDeviceIP(host, board);
      routedThrough = RoutedInterface(board);
      DoctorCheck route = RouteCheck(name, board);
      // The boards of a station share one address, routed through one of
      // its cards; each card's board is reached through the card itself.
      if (!route.ok && routedThrough != name &&
          std::find(setup.stationCards.begin(), setup.stationCards.end(), routedThrough) !=
              setup.stationCards.end()) {
        route = Check("route", true,
                      "the board's address " + DottedText(board) + " is routed through " +
                          routedThrough + ", another card of the station; " + name +
                          " reaches its own board all the same");
      }
      checks.push_back(route);
    } else {
      checks.push_back(Check("route", false, "the board's address cannot be derived",
                             "give " + name + " an IPv4 address first"));
    }
    int all = -1;
    int own = -1;
    if (ReversePathFilter(name, all, own)) {
      checks.push_back(ReversePathCheck(name, all, own, routedThrough));
    }
  }
  checks.push_back(PortCheck(67, "BOOTP", sel >= 0 ? name : "", setup.program));
  checks.push_back(PortCheck(69, "TFTP", sel >= 0 ? name : "", setup.program));

  checks.push_back(PrivilegeCheck(setup.program));

  QuietPanel quiet;
  MessageLog log(quiet);
  SharedBuffers buf;
  buf.AllocSharedBuffers();
  int32_t jump = 3;
  const std::string dir = setup.directory.empty() ? "." : setup.directory;
  const bool loaded = Load_UpgradeFile(setup.directory, log, buf, jump) == 1;
  checks.push_back(
      Check("configuration", loaded,
            loaded ? dir + "/KOVA_Config.cfg and the images it names load"
                   : (quiet.firstProblem.empty() ? dir + "/KOVA_Config.cfg is not valid"
                                                 : quiet.firstProblem),
            "kova-upgrade -v -C " + dir + " -m MAC version traces the file as it is read"));
  const ConfigFileContent content = ParseConfigFile(buf.ConfigText.get(), buf.ConfigTextLen);
  const int32_t length = buf.AppImageLen;
  const uint8_t* image = buf.AppImage.get();
  auto markAt = [&](int32_t offset) {
    return length >= offset + 2 && image[offset] == 0xAA && image[offset + 1] == 0x55;
  };
  if (!loaded || content.run_step < 3) {
    checks.push_back(Check(
        "image-mark", false,
        loaded ? "the configuration loads no application image" : "no application image to check",
        "a run step of 3 or more and an application image that loads"));
  } else if (jump == kJumpRemote) {
    const bool records = length > 0 && image[0] == 'S';
    checks.push_back(Check("image-mark", records,
                           records ? "the image is S-record text for the remote update"
                                   : "REMOTE needs an S-record image, this one is not",
                           "use the S-record file of the firmware"));
  } else {
    const bool fresh = markAt(kNewPlatformMarkOffset);
    const bool old = markAt(kOldPlatformMarkOffset);
    const std::string which = fresh && old ? "both platforms' marks"
                              : fresh      ? "the new platform's mark"
                                           : "the old platform's mark";
    checks.push_back(Check("image-mark", fresh || old,
                           fresh || old ? "the application image carries " + which
                                        : "the application image carries no platform mark",
                           "use the image built for the board: AA 55 at 0x13E (new platform) "
                           "or at 0x7CFF0 (old platform)"));
  }
  return checks;
}

std::string DoctorReport(const std::vector<DoctorCheck>& checks) {
  std::string report;
  int failed = 0;
  for (const DoctorCheck& c : checks) {
    report += std::string(c.ok ? "OK    " : "FAIL  ") + c.detail + "\n";
    if (!c.ok) {
      ++failed;
      report += "      fix: " + c.fix + "\n";
    }
  }
  report += failed == 0 ? "all " + std::to_string(checks.size()) + " checks passed\n"
                        : std::to_string(failed) + " of " + std::to_string(checks.size()) +
                              " checks failed\n";
  return report;
}

}  // namespace kova::cli
