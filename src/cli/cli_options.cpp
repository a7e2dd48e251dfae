#include "cli/cli_options.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "controller/operator_input.h"

namespace kova::cli {

namespace {

struct ActionName {
  const char* name;
  int32_t code;
  bool needsMac;  // the engine fails the action without the board's MAC
};

constexpr ActionName kActions[] = {
    {"upgrade", 0, true},    {"version", 2, true},        {"config-reset", 3, true},
    {"model-name", 7, true}, {"set-model-name", 8, true}, {"eeprom", 9, true},
};

enum LongOnly { kOptIp = 1000, kOptListInterfaces, kOptTickMs, kOptVersion };

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

bool AllHexPairs(const std::array<std::string, 6>& fields) {
  for (const std::string& field : fields) {
    if (field.size() != 2 || !std::isxdigit(static_cast<unsigned char>(field[0])) ||
        !std::isxdigit(static_cast<unsigned char>(field[1]))) {
      return false;
    }
  }
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
  return "usage: kova-upgrade [options] ACTION\n"
         "ACTION:\n"
         "  upgrade | version | config-reset | model-name | set-model-name | eeprom\n"
         "options:\n"
         "  -i, --interface NAME|A.B.C.D  host interface (default: the first adapter)\n"
         "  -m, --mac MAC                 board MAC, needed by every ACTION: 00:1A:2B:3C:4D:5E,\n"
         "                                00-1A-2B-3C-4D-5E or 001A2B3C4D5E\n"
         "  -d, --delay 0..19             pass delay in milliseconds during an operation (default "
         "0)\n"
         "  --ip A.B.C.D                  board address for model-name, set-model-name, eeprom\n"
         "                                (default 192.168.100.100)\n"
         "  -C, --directory DIR           where KOVA_Config.cfg and the images are (default: .)\n"
         "  --list-interfaces             print the adapters (index, name, IPv4, MAC) and exit\n"
         "  -v, --verbose                 also print trace lines\n"
         "  --tick-ms N                   length of one countdown tick (default 100)\n"
         "  -h, --help                    this text\n"
         "  --version                     print the tool's version and exit\n"
         "exit status: 0 success, 1 the operation failed or a signal stopped it, 2 usage error\n";
}

bool SplitMac(const std::string& text, std::array<std::string, 6>& fields) {
  if (text.size() == 12) {
    for (int i = 0; i < 6; ++i) {
      fields[i] = text.substr(i * 2, 2);
    }
    return AllHexPairs(fields);
  }
  if (text.size() != 17) {
    return false;
  }
  const char sep = text[2];
  if (sep != ':' && sep != '-') {
    return false;
  }
  for (int i = 0; i < 6; ++i) {
    if (i < 5 && text[i * 3 + 2] != sep) {
      return false;
    }
    fields[i] = text.substr(i * 3, 2);
  }
  return AllHexPairs(fields);
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
      {nullptr, 0, nullptr, 0},
  };
  // 0 rather than 1: only a full restart forgets where an earlier parse
  // stopped inside a cluster of short options, in an argv it no longer owns.
  optind = 0;
  opterr = 0;
  int opt;
  // The leading ':' tells a missing value apart from an unknown option.
  for (;;) {
    // The options of one argument are all read before the next one's; the
    // restart reads argv[1] first.
    const int element = std::max(optind, 1);
    opt = getopt_long(argc, argv, "+:i:m:d:C:vh", kLong, nullptr);
    if (opt == -1) {
      break;
    }
    switch (opt) {
      case 'i':
        if (*optarg == '\0') {
          error = "empty interface name: -i needs a name or an IPv4 address";
          return false;
        }
        out.interface = optarg;
        break;
      case 'm':
        if (!SplitMac(optarg, out.macFields)) {
          error = std::string("unparsable MAC address: ") + optarg;
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
        if (ReadIPField(optarg, ip) != 1) {
          error = std::string("unparsable IP address: ") + optarg;
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
        error = "option needs a value: " + OptionName(argv[element]);
        return false;
      default:
        error = "unknown option: " + OptionName(argv[element]);
        return false;
    }
  }
  if (out.listInterfaces) {
    return true;
  }
  if (optind != argc - 1) {
    error = (optind >= argc) ? "no ACTION given" : "exactly one ACTION expected";
    return false;
  }
  for (const ActionName& a : kActions) {
    if (std::strcmp(argv[optind], a.name) == 0) {
      if (a.needsMac && out.macFields[0].empty()) {
        error = std::string("no MAC address given: ") + a.name + " needs -m MAC";
        return false;
      }
      out.action = a.code;
      return true;
    }
  }
  error = std::string("unknown ACTION: ") + argv[optind];
  return false;
}

}  // namespace kova::cli
