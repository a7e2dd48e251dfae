// What the operator types: the IP field, the six MAC fields, the board's
// derived address, and the command line's options and MAC argument, each
// checked against a plain reading of what it accepts.
//
// The input is used whole as one text, and split at NUL bytes into the MAC
// fields and into the command line's arguments.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "controller/operator_input.h"
#include "fuzz_support.h"

namespace kova::fuzz {
namespace {

bool IsHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

int HexDigit(char c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

std::vector<std::string> SplitAtNul(const std::string& text) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == '\0') {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// Four dot-separated octets of at most three digits and at most 255 each, an
// empty one counting as 0, in at most 15 characters.
void CheckIPField(const std::string& text) {
  std::vector<std::string> octets(1);
  for (const char c : text) {
    if (c == '.') {
      octets.emplace_back();
    } else {
      octets.back().push_back(c);
    }
  }
  bool valid = text.size() <= 15 && octets.size() == 4;
  uint8_t want[4] = {0, 0, 0, 0};
  for (size_t i = 0; valid && i < octets.size(); ++i) {
    valid = octets[i].size() <= 3;
    int value = 0;
    for (size_t d = 0; valid && d < octets[i].size(); ++d) {
      const char c = octets[i][d];
      valid = c >= '0' && c <= '9';
      value = value * 10 + (c - '0');
    }
    valid = valid && value <= 255;
    want[i] = static_cast<uint8_t>(value);
  }
  uint8_t ip[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  const int result = ReadIPField(text, ip);
  Require(result == (valid ? 1 : 0), "the IP field is read exactly when it is four octets");
  const uint8_t untouched[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  Require(std::memcmp(ip, valid ? want : untouched, 4) == 0,
          "a read IP field gives its octets; a refused one leaves the address alone");
}

// One or two hexadecimal digits per field, not all six bytes 0.
void CheckMACFields(const std::array<std::string, 6>& fields) {
  bool valid = true;
  uint8_t want[6] = {0, 0, 0, 0, 0, 0};
  bool allZero = true;
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    valid = valid && !f.empty() && f.size() <= 2;
    int value = 0;
    for (const char c : f) {
      valid = valid && IsHex(c);
      value = valid ? value * 16 + HexDigit(c) : 0;
    }
    want[i] = static_cast<uint8_t>(value);
    allZero = allZero && want[i] == 0;
  }
  valid = valid && !allZero;
  uint8_t mac[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  const int result = ReadMACFields(fields, mac);
  Require(result == (valid ? 1 : 0),
          "the MAC is read exactly when every field is hex and not all 0");
  const uint8_t zero[6] = {0, 0, 0, 0, 0, 0};
  Require(std::memcmp(mac, valid ? want : zero, 6) == 0,
          "a read MAC gives its bytes; a refused one is zeroed");
}

void CheckDeviceIP(const uint8_t host[4]) {
  uint8_t device[4] = {0, 0, 0, 0};
  DeriveDeviceIP(host, device);
  Require(std::memcmp(device, host, 3) == 0, "the board is on the host's segment");
  Require(device[3] >= 2 && device[3] <= 253, "the board's last octet is within 2..253");
  Require(device[3] != host[3], "the board never gets the host's address");
}

// Twelve hexadecimal digits, or six pairs joined by five equal ':' or '-'.
void CheckSplitMac(const std::string& text) {
  bool valid = false;
  if (text.size() == 12) {
    valid = true;
    for (const char c : text) {
      valid = valid && IsHex(c);
    }
  } else if (text.size() == 17 && (text[2] == ':' || text[2] == '-')) {
    valid = true;
    for (size_t i = 0; i < text.size(); ++i) {
      valid = valid && (i % 3 == 2 ? text[i] == text[2] : IsHex(text[i]));
    }
  }
  std::array<std::string, 6> fields;
  const bool result = cli::SplitMac(text, fields);
  Require(result == valid, "a MAC argument splits exactly when it is in one of its three forms");
  if (!result) {
    return;
  }
  const size_t stride = text.size() == 12 ? 2 : 3;
  for (size_t i = 0; i < fields.size(); ++i) {
    Require(fields[i] == text.substr(i * stride, 2), "each field is its pair of digits");
  }
  CheckMACFields(fields);
}

struct ParseOutcome {
  bool ok = false;
  std::string error;
  cli::CliOptions options;
};

// Parses a copy of `args` that is freed before the function returns, as a
// second command line in the same process would not share it.
ParseOutcome Parse(const std::vector<std::string>& args) {
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  for (const std::string& a : args) {
    storage.emplace_back(new char[a.size() + 1]);
    std::memcpy(storage.back().get(), a.c_str(), a.size() + 1);
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);
  ParseOutcome out;
  out.ok = cli::ParseOptions(static_cast<int>(args.size()), argv.data(), out.options, out.error);
  return out;
}

bool Same(const ParseOutcome& a, const ParseOutcome& b) {
  const cli::CliOptions& x = a.options;
  const cli::CliOptions& y = b.options;
  return a.ok == b.ok && a.error == b.error && x.action == y.action &&
         x.interfaceName == y.interfaceName && x.macs == y.macs && x.delayIndex == y.delayIndex &&
         x.ipField == y.ipField && x.directory == y.directory &&
         x.listInterfaces == y.listInterfaces && x.verbose == y.verbose && x.tickMs == y.tickMs &&
         x.help == y.help && x.version == y.version && x.doctor == y.doctor && x.json == y.json &&
         x.keepGoing == y.keepGoing && x.dryRun == y.dryRun && x.logFile == y.logFile &&
         x.noLog == y.noLog;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

void CheckOptions(const std::vector<std::string>& arguments) {
  // --mac-file (or any abbreviation of it) reads the file it names, which
  // may be a terminal or a pipe that never ends: not for a fuzzer.
  for (const std::string& argument : arguments) {
    if (StartsWith(argument, "--mac-")) {
      return;
    }
  }
  std::vector<std::string> args = {"kova-upgrade"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  const ParseOutcome first = Parse(args);
  Require(Same(first, Parse(args)), "the same command line parses the same way twice");

  const cli::CliOptions& o = first.options;
  if (!first.ok) {
    Require(!first.error.empty(), "a usage error says what is wrong");
    for (const char* prefix : {"unknown option: ", "option needs a value: "}) {
      if (StartsWith(first.error, prefix)) {
        const std::string named = first.error.substr(std::strlen(prefix));
        Require(StartsWith(named, "-"), "a usage error names the option, not the program");
      }
    }
    return;
  }
  Require(o.delayIndex >= 0 && o.delayIndex <= 19, "the delay is within 0..19");
  Require(o.tickMs >= 1 && o.tickMs <= 60000, "the tick is within 1..60000 ms");
  uint8_t ip[4];
  Require(ReadIPField(o.ipField, ip) == 1, "the board address accepted is readable");
  Require(cli::AddressMisuse(ip) == nullptr, "the board address accepted is a board's");
  if (o.help || o.version || o.listInterfaces || o.doctor) {
    return;
  }
  static const int32_t kActions[] = {0, 2, 3, 7, 8, 9};
  Require(std::find(std::begin(kActions), std::end(kActions), o.action) != std::end(kActions),
          "an accepted command line names an action");
  Require(!o.macs.empty(), "an action runs only with a board's MAC");
  for (const cli::MacFields& mac : o.macs) {
    for (const std::string& field : mac) {
      Require(field.size() == 2 && IsHex(field[0]) && IsHex(field[1]),
              "an action runs only with MACs of six hex pairs");
    }
    const unsigned leading = static_cast<unsigned>(HexDigit(mac[0][0]) * 16 + HexDigit(mac[0][1]));
    Require((leading & 1u) == 0 && cli::MacText(mac) != "00:00:00:00:00:00",
            "an action runs only with MACs a board can have");
  }
}

}  // namespace
}  // namespace kova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kova::fuzz;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckIPField(text);
  CheckSplitMac(text);
  const std::vector<std::string> parts = SplitAtNul(text);
  std::array<std::string, 6> fields;
  for (size_t i = 0; i < fields.size() && i < parts.size(); ++i) {
    fields[i] = parts[i];
  }
  CheckMACFields(fields);
  uint8_t host[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && i < size; ++i) {
    host[i] = data[i];
  }
  CheckDeviceIP(host);
  CheckOptions(parts);
  return 0;
}
