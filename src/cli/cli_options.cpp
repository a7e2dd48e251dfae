#include "cli/cli_options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>

#include "cli/mac_file.h"
#include "cli/station_file.h"
#include "cli/stop_requests.h"
#include "common/action_codes.h"
#include "controller/operator_input.h"
#include "platform/host_files.h"

namespace kova::cli {

namespace {

enum LongOnly {
  kOptIp = 1000,
  kOptListInterfaces,
  kOptTickMs,
  kOptJson,
  kOptMacFile,
  kOptKeepGoing,
  kOptDryRun,
  kOptLog,
  kOptNoLog,
  kOptVersion,
  kOptVerify,
  kOptRetries,
  kOptStation,
};

bool ParseInt(const char* text, long low, long high, int& out) {
  if (text == nullptr || *text == '\0') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) {
    return false;
  }
  out = static_cast<int>(value);
  return true;
}

// The option getopt stopped at in `arg`, the argument it came from: a long
// one as typed, a short one on its own even inside a cluster such as -vx.
std::string OptionName(const char* arg) {
  if (std::strncmp(arg, "--", 2) == 0) {
    return arg;
  }
  return std::string("-") + static_cast<char>(optopt);
}

}  // namespace

const char* UsageText() {
  static const std::string text =
      std::string(
          "usage: kova-upgrade [options] ACTION [options]\n"
          "       kova-upgrade [-i NAME | --station FILE] [-C DIR] [--json] doctor\n"
          "ACTION:\n"
          "  upgrade | version | config-reset | model-name | set-model-name | eeprom\n"
          "options:\n"
          "  -i, --interface NAME|A.B.C.D  host interface (default: the first adapter)\n"
          "  -m, --mac MAC                 board MAC, needed by every ACTION: 00:1A:2B:3C:4D:5E,\n"
          "                                00-1A-2B-3C-4D-5E or 001A2B3C4D5E; several -m make a\n"
          "                                batch, one board after the other\n"
          "  --mac-file FILE               more boards: one MAC per line, # comments\n"
          "  --station FILE                a board per card, all at once: one line per\n"
          "                                fixture, INTERFACE MAC [DIR] (DIR: its -C); -i given\n"
          "                                several times pairs each with the -m in its place\n"
          "  --keep-going                  a batch goes on after a board failed\n"
          "  --dry-run                     upgrade: check the files, find the board, print the\n"
          "                                steps; nothing that changes the board is sent\n"
          "  --json                        stdout: one JSON event per line "
          "(docs/cli-events.schema.json)\n"
          "  --verify[=SECONDS]            upgrade: read the version before, and after the\n"
          "                                upgrade wait up to SECONDS (default 60) for the board\n"
          "                                to restart with its new firmware\n"
          "  --retries N                   upgrade: run a road that failed once in the\n"
          "                                bootloader again, up to N times (default 0)\n"
          "  --log FILE                    append the log of every operation to FILE\n"
          "  --no-log                      no log (default: ") +
      host::UserStateDirectoryShown("kova-upgrade") +
      ")\n"
      "  -d, --delay 0..19             pass delay in milliseconds during an operation (default "
      "0)\n"
      "  --ip A.B.C.D                  board address for model-name, set-model-name, eeprom\n"
      "                                (default 192.168.100.100)\n"
      "  -C, --directory DIR           where KOVA_Config.cfg and the images are (default: .)\n"
      "  --list-interfaces             print the adapters (index, name, IPv4, MAC) and exit\n"
      "  -v, --verbose                 also print and log the trace lines\n"
      "  --tick-ms N                   length of one countdown tick (default 100)\n"
      "  -h, --help                    this text\n"
      "  --version                     print the tool's version and exit\n"
      "exit status: 0 success, 1 the operation failed or " +
      StopRequestsShown() + " stopped it, 2 usage error\n";
  return text.c_str();
}

const char* MacMisuse(const MacFields& fields) {
  uint8_t bytes[6];
  for (size_t i = 0; i < fields.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(std::strtoul(fields[i].c_str(), nullptr, 16));
  }
  const auto all = [&bytes](uint8_t value) {
    return std::all_of(std::begin(bytes), std::end(bytes),
                       [value](uint8_t b) { return b == value; });
  };
  if (all(0xFF)) {
    return "broadcast MAC address";
  }
  // The group bit: a board's own address never has it.
  if ((bytes[0] & 0x01) != 0) {
    return "multicast MAC address";
  }
  if (all(0x00)) {
    return "all-zero MAC address";
  }
  return nullptr;
}

const char* AddressMisuse(const uint8_t ip[4]) {
  if (ip[0] == 255 && ip[1] == 255 && ip[2] == 255 && ip[3] == 255) {
    return "broadcast IP address";
  }
  if (ip[0] == 127) {
    return "loopback IP address";
  }
  if (ip[0] >= 224 && ip[0] <= 239) {
    return "multicast IP address";
  }
  // Sent to, it reaches this host, as a loopback address would.
  if (ip[0] == 0 && ip[1] == 0 && ip[2] == 0 && ip[3] == 0) {
    return "unspecified IP address";
  }
  return nullptr;
}

std::string MacText(const MacFields& fields) {
  std::string text;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      text += ':';
    }
    for (const char c : fields[i]) {
      text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return text;
}

bool ParseMacList(const std::string& text, const std::string& name, std::vector<MacFields>& out,
                  std::string& error, std::vector<int>* numbers) {
  for (const ListLine& line : ListLines(text)) {
    MacFields fields;
    const char* why = SplitMac(line.text, fields) ? MacMisuse(fields) : "unparsable MAC address";
    if (why != nullptr) {
      error = name + ":" + std::to_string(line.number) + ": " + why + ": " + line.text;
      return false;
    }
    out.push_back(fields);
    if (numbers != nullptr) {
      numbers->push_back(line.number);
    }
  }
  return true;
}

bool ParseOptions(int argc, char** argv, CliOptions& out, std::string& error) {
  static const option kLong[] = {
      {"interface", required_argument, nullptr, 'i'},
      {"mac", required_argument, nullptr, 'm'},
      {"delay", required_argument, nullptr, 'd'},
      {"ip", required_argument, nullptr, kOptIp},
      {"directory", required_argument, nullptr, 'C'},
      {"list-interfaces", no_argument, nullptr, kOptListInterfaces},
      {"verbose", no_argument, nullptr, 'v'},
      {"tick-ms", required_argument, nullptr, kOptTickMs},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kOptVersion},
      {"json", no_argument, nullptr, kOptJson},
      {"mac-file", required_argument, nullptr, kOptMacFile},
      {"keep-going", no_argument, nullptr, kOptKeepGoing},
      {"dry-run", no_argument, nullptr, kOptDryRun},
      {"log", required_argument, nullptr, kOptLog},
      {"no-log", no_argument, nullptr, kOptNoLog},
      {"verify", optional_argument, nullptr, kOptVerify},
      {"retries", required_argument, nullptr, kOptRetries},
      {"station", required_argument, nullptr, kOptStation},
      {nullptr, 0, nullptr, 0},
  };
  // 0 rather than 1: only a full restart forgets where an earlier parse
  // stopped inside a cluster of short options, in an argv it no longer owns.
  optind = 0;
  opterr = 0;
  int opt;
  std::vector<std::string> macFiles;
  std::vector<std::string> stationFiles;
  std::vector<std::string> interfaces;  // every -i, in order
  // Where each MAC came from, for a duplicate: "-m TEXT" or "FILE:LINE".
  std::vector<std::string> origins;
  std::vector<std::string> words;  // the ACTION, wherever it stands
  // The leading '-' hands over the other words in their place, so that
  // options may follow the ACTION whatever POSIXLY_CORRECT says; the ':'
  // tells a missing value apart from an unknown option.
  for (;;) {
    // The options of one argument are all read before the next one's; the
    // restart reads argv[1] first.
    const int element = std::max(optind, 1);
    opt = getopt_long(argc, argv, "-:i:m:d:C:vh", kLong, nullptr);
    if (opt == -1) {
      break;
    }
    switch (opt) {
      case 1:
        words.emplace_back(optarg);
        break;
      case 'i':
        if (*optarg == '\0') {
          error = "empty interface name: -i needs a name or an IPv4 address";
          return false;
        }
        out.interfaceName = optarg;
        interfaces.emplace_back(optarg);
        break;
      case 'm': {
        MacFields fields;
        const char* why = SplitMac(optarg, fields) ? MacMisuse(fields) : "unparsable MAC address";
        if (why != nullptr) {
          error = std::string(why) + ": " + optarg;
          return false;
        }
        out.macs.push_back(fields);
        origins.push_back(std::string("-m ") + optarg);
        break;
      }
      case kOptMacFile:
        macFiles.emplace_back(optarg);
        break;
      case kOptStation:
        stationFiles.emplace_back(optarg);
        break;
      case kOptJson:
        out.json = true;
        break;
      case kOptKeepGoing:
        out.keepGoing = true;
        break;
      case kOptDryRun:
        out.dryRun = true;
        break;
      case kOptLog:
        if (*optarg == '\0') {
          error = "empty log file name: --log needs a file";
          return false;
        }
        out.logFile = optarg;
        break;
      case kOptNoLog:
        out.noLog = true;
        break;
      case kOptVerify:
        out.verifySeconds = kDefaultVerifySeconds;
        if (optarg != nullptr && !ParseInt(optarg, 1, 3600, out.verifySeconds)) {
          error = std::string("--verify takes 1..3600 seconds: ") + optarg;
          return false;
        }
        break;
      case kOptRetries:
        if (!ParseInt(optarg, 0, 10, out.retries)) {
          error = std::string("retries must be 0..10: ") + optarg;
          return false;
        }
        break;
      case 'd':
        if (!ParseInt(optarg, 0, 19, out.delayIndex)) {
          error = std::string("delay must be 0..19: ") + optarg;
          return false;
        }
        break;
      case kOptIp: {
        uint8_t ip[4];
        const char* why =
            ReadIPField(optarg, ip) == 1 ? AddressMisuse(ip) : "unparsable IP address";
        if (why != nullptr) {
          error = std::string(why) + ": " + optarg;
          return false;
        }
        out.ipField = optarg;
        break;
      }
      case 'C':
        out.directory = optarg;
        break;
      case kOptListInterfaces:
        out.listInterfaces = true;
        break;
      case 'v':
        out.verbose = true;
        break;
      case kOptTickMs:
        if (!ParseInt(optarg, 1, 60000, out.tickMs)) {
          error = std::string("tick length must be 1..60000 ms: ") + optarg;
          return false;
        }
        break;
      case 'h':
        out.help = true;
        return true;
      case kOptVersion:
        out.version = true;
        return true;
      case ':':
        // MinGW's getopt_long says ':' also for a value given to an option
        // that takes none ("--verbose=1"); glibc calls that unknown.
        if (std::string(argv[element]).rfind("--", 0) == 0 &&
            std::string(argv[element]).find('=') != std::string::npos) {
          error = "unknown option: " + OptionName(argv[element]);
          return false;
        }
        error = "option needs a value: " + OptionName(argv[element]);
        return false;
      default:
        error = "unknown option: " + OptionName(argv[element]);
        return false;
    }
  }
  // After "--" every word is a word.
  for (int i = optind; i < argc; ++i) {
    words.emplace_back(argv[i]);
  }
  if (out.listInterfaces) {
    return true;
  }
  if (words.size() != 1) {
    error = words.empty() ? "no ACTION given" : "exactly one ACTION expected";
    return false;
  }
  if (!out.logFile.empty() && out.noLog) {
    error = "--log and --no-log exclude each other";
    return false;
  }
  if (!stationFiles.empty() && (!interfaces.empty() || !out.macs.empty() || !macFiles.empty())) {
    error = "--station takes the place of -i, -m and --mac-file";
    return false;
  }
  if (interfaces.size() > 1 && !macFiles.empty()) {
    error = "several -i pair with -m, not with --mac-file";
    return false;
  }
  for (const std::string& file : macFiles) {
    std::string text;
    if (!ReadMacFile(file, text, error)) {
      return false;
    }
    std::vector<int> lines;
    if (!ParseMacList(text, file, out.macs, error, &lines)) {
      return false;
    }
    for (const int line : lines) {
      origins.push_back(file + ":" + std::to_string(line));
    }
  }
  // Where each card came from, for a duplicate: "-i NAME" or "FILE:LINE".
  std::vector<std::string> cardOrigins;
  if (!stationFiles.empty()) {
    for (const std::string& file : stationFiles) {
      std::string text;
      if (!ReadListFile(file, "station file", text, error) ||
          !ParseStationList(text, file, out.cards, cardOrigins, error)) {
        return false;
      }
    }
    if (out.cards.empty()) {
      error = "no card given: the station file holds none";
      return false;
    }
    for (const Card& card : out.cards) {
      out.macs.push_back(card.mac);
    }
    origins = cardOrigins;
    out.interfaceName.clear();
  } else if (interfaces.size() > 1) {
    if (interfaces.size() != out.macs.size()) {
      error = "unequal counts: " + std::to_string(interfaces.size()) + " -i for " +
              std::to_string(out.macs.size()) +
              " -m; several -i pair each with the -m in its place";
      return false;
    }
    for (size_t i = 0; i < interfaces.size(); ++i) {
      out.cards.push_back({interfaces[i], out.macs[i], ""});
      cardOrigins.push_back("-i " + interfaces[i]);
    }
    out.interfaceName.clear();
  }
  // Two boards on one card would be given the same address at once.
  for (size_t i = 0; i < out.cards.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (out.cards[i].interfaceName == out.cards[j].interfaceName) {
        error = "duplicate interface: " + out.cards[i].interfaceName + " (" + cardOrigins[j] +
                " and " + cardOrigins[i] + ")";
        return false;
      }
    }
  }
  // A board twice in a batch would be upgraded twice, the second time
  // perhaps from its new firmware: most likely a slip in the list.
  for (size_t i = 0; i < out.macs.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (MacText(out.macs[i]) == MacText(out.macs[j])) {
        error = "duplicate MAC address: " + MacText(out.macs[i]) + " (" + origins[j] + " and " +
                origins[i] + ")";
        return false;
      }
    }
  }
  const std::string action = words.front();
  if (action == "doctor") {
    out.doctor = true;
    out.actionName = action;
    return true;
  }
  for (const ActionInfo& a : kActions) {
    if (a.commandWord && action == a.name) {
      // Every action fails in the engine without the board's MAC.
      if (out.macs.empty()) {
        error = std::string("no MAC address given: ") + a.name + " needs -m MAC" +
                (macFiles.empty() ? "" : " (the MAC file holds none)");
        return false;
      }
      if (out.dryRun && a.code != kActionUpgrade) {
        error = "--dry-run goes with upgrade only";
        return false;
      }
      if ((out.verifySeconds > 0 || out.retries > 0) && (a.code != kActionUpgrade || out.dryRun)) {
        error = std::string(out.verifySeconds > 0 ? "--verify" : "--retries") +
                " goes with upgrade only, not with --dry-run";
        return false;
      }
      out.action = a.code;
      out.actionName = a.name;
      return true;
    }
  }
  error = "unknown ACTION: " + action;
  return false;
}

}  // namespace kova::cli
