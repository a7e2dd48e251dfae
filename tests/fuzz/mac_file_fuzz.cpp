// The command line's MAC file on arbitrary content, checked against a plain
// reading: one MAC per line in one of its three forms, "#" to the line's end
// a comment, blanks around it and blank lines skipped, and a MAC that no
// board can have refused like one that does not parse, by file and line.

#include <array>
#include <cctype>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "fuzz_support.h"

namespace kova::fuzz {
namespace {

bool IsHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The lines as the reader sees them: a final line without its LF counts.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t lf = text.find('\n', at);
    const size_t end = lf == std::string::npos ? text.size() : lf;
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// Twelve digits, or six pairs joined by five equal ':' or '-'.
bool Split(const std::string& mac, cli::MacFields& fields) {
  size_t stride = 0;
  if (mac.size() == 12) {
    stride = 2;
  } else if (mac.size() == 17 && (mac[2] == ':' || mac[2] == '-')) {
    stride = 3;
  } else {
    return false;
  }
  for (size_t i = 0; i < mac.size(); ++i) {
    const bool separator = stride == 3 && i % 3 == 2;
    if (separator ? mac[i] != mac[2] : !IsHex(mac[i])) {
      return false;
    }
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i] = mac.substr(i * stride, 2);
  }
  return true;
}

const char* Misuse(const cli::MacFields& fields) {
  std::array<unsigned long, 6> bytes{};
  bool allOnes = true;
  bool allZero = true;
  for (size_t i = 0; i < fields.size(); ++i) {
    bytes[i] = std::stoul(fields[i], nullptr, 16);
    allOnes = allOnes && bytes[i] == 0xFF;
    allZero = allZero && bytes[i] == 0;
  }
  if (allOnes) {
    return "broadcast MAC address";
  }
  if (bytes[0] % 2 == 1) {
    return "multicast MAC address";
  }
  return allZero ? "all-zero MAC address" : nullptr;
}

}  // namespace
}  // namespace kova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kova::fuzz;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<kova::cli::MacFields> want;
  std::string wantError;
  const std::vector<std::string> lines = Lines(text);
  for (size_t n = 0; n < lines.size() && wantError.empty(); ++n) {
    std::string line = lines[n].substr(0, lines[n].find('#'));
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
      continue;
    }
    line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    kova::cli::MacFields fields;
    const char* why = Split(line, fields) ? Misuse(fields) : "unparsable MAC address";
    if (why != nullptr) {
      wantError = "macs:" + std::to_string(n + 1) + ": " + why + ": " + line;
    } else {
      want.push_back(fields);
    }
  }

  std::vector<kova::cli::MacFields> got;
  std::string error;
  const bool ok = kova::cli::ParseMacList(text, "macs", got, error);
  Require(ok == wantError.empty(), "a file is taken exactly when every MAC in it is a board's");
  Require(error == wantError, "a refusal names the file, the line, the reason and the MAC");
  Require(got == want, "the MACs before any refusal are taken in order, as written");
  return 0;
}
