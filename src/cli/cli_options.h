#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "frontend/mac_text.h"

namespace kova::cli {

using MacFields = std::array<std::string, 6>;

// One board of a station, on a card of its own.
struct Card {
  std::string interfaceName;
  MacFields mac;
  std::string directory;  // empty: -C
};

struct CliOptions {
  int32_t action = -1;
  std::string actionName;
  bool doctor = false;
  std::string interfaceName;  // name or dotted IPv4; empty: the first adapter
  // Every board, in order: -m as given, then the lines of --mac-file.
  std::vector<MacFields> macs;
  // A station: one board per card, all at the same time (--station, or -i
  // given more than once, each paired with the -m in its place). Empty for
  // one board, or a batch on one interface.
  std::vector<Card> cards;
  int delayIndex = 0;
  std::string ipField = "192.168.100.100";
  std::string directory;
  bool listInterfaces = false;
  bool verbose = false;
  int tickMs = 100;
  bool help = false;
  bool version = false;  // --version: the tool's own version, not the board's
  bool json = false;
  bool keepGoing = false;
  bool dryRun = false;
  std::string logFile;  // empty: the daily files
  bool noLog = false;
  // --verify: seconds to wait for the board with its new firmware; 0: off.
  int verifySeconds = 0;
  // --retries: further runs of a road that failed in the bootloader.
  int retries = 0;
};

constexpr int kDefaultVerifySeconds = 60;

// Parses the command line; options may come before or after the ACTION. On
// a usage error returns false with a one-line reason in `error`; the same
// board twice in a batch is one, as are a card twice in a station and
// several -i that do not pair with the -m one for one.
bool ParseOptions(int argc, char** argv, CliOptions& out, std::string& error);

// The three forms of a MAC on the command line; the dialog reads a pasted or
// scanned MAC with the same parser.
using kova::SplitMac;

// Why no board can have the MAC of these six hex pairs: "broadcast MAC
// address", "multicast MAC address" or "all-zero MAC address"; null when a
// board can.
const char* MacMisuse(const MacFields& fields);

// Why no board can be reached at this address: "broadcast IP address",
// "loopback IP address", "multicast IP address" or "unspecified IP
// address"; null when one can.
const char* AddressMisuse(const uint8_t ip[4]);

// 00:1A:2B:3C:4D:5E, upper case.
std::string MacText(const MacFields& fields);

// One MAC per line; "#" starts a comment, blank lines are skipped. False
// with `error` naming the file and line of the first one that does not
// parse or that no board can have. `numbers`, when given, receives the line
// number of each MAC added.
bool ParseMacList(const std::string& text, const std::string& name, std::vector<MacFields>& out,
                  std::string& error, std::vector<int>* numbers = nullptr);

const char* UsageText();

}  // namespace kova::cli
