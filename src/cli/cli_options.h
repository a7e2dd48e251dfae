#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kova::cli {

struct CliOptions {
  int32_t action = -1;
  std::string interface;  // name or dotted IPv4; empty: the first adapter
  std::array<std::string, 6> macFields;
  int delayIndex = 0;
  std::string ipField = "192.168.100.100";
  std::string directory;
  bool listInterfaces = false;
  bool verbose = false;
  int tickMs = 100;
  bool help = false;
  bool version = false;  // --version: the tool's own version, not the board's
};

// Parses the command line. On a usage error returns false with a one-line
// reason in `error`.
bool ParseOptions(int argc, char** argv, CliOptions& out, std::string& error);

// Splits 00:1A:2B:3C:4D:5E, 00-1A-2B-3C-4D-5E or 001A2B3C4D5E into its six
// two-digit hexadecimal fields; false for anything else.
bool SplitMac(const std::string& text, std::array<std::string, 6>& fields);

const char* UsageText();

}  // namespace kova::cli
