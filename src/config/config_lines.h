#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kova {

// The configuration file holds exactly seven CR LF terminated lines.
constexpr int kConfigLineCount = 7;
// Each line is collected into a 128-byte field with its terminating zero.
constexpr int kConfigLineMax = 127;

struct ConfigLines {
  std::array<std::string, kConfigLineCount> text;  // decoded as a C string would be
  std::array<int, kConfigLineCount> count{};       // bytes collected per line
  int search_line = 0;                             // CR LF terminated lines seen
  bool complete = false;  // seven lines found, none longer than kConfigLineMax
};

// Splits the file's bytes into its seven lines. A line ends at its first CR;
// everything up to the next LF is dropped, and a bare LF belongs to the line.
// Bytes after the seventh line end are ignored. A line that would exceed
// kConfigLineMax stops the scan and leaves the result incomplete.
ConfigLines ScanConfigLines(const uint8_t* data, int32_t len);

}  // namespace kova
