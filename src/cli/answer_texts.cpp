#include "cli/answer_texts.h"

#include <cstdio>

#include "common/operation_events.h"

namespace kova::cli {

namespace {

bool Printable(uint8_t b) {
  return b >= 0x20 && b < 0x7F;
}

}  // namespace

std::string FailureLine(const std::string& reason) {
  return "failed: " + ReasonLine(reason.empty() ? "failed" : reason);
}

std::string ModelNameText(const std::vector<uint8_t>& field) {
  std::string text;
  for (const uint8_t b : field) {
    if (b == 0x00) {
      break;
    }
    if (Printable(b) && b != '\\') {
      text += static_cast<char>(b);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
      text += escaped;
    }
  }
  return text;
}

std::string HexDumpWithOffsets(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t line = 0; line < bytes.size(); line += 16) {
    char offset[32];
    std::snprintf(offset, sizeof offset, "%04zX ", line);
    out += offset;
    std::string text;
    for (size_t i = line; i < line + 16; ++i) {
      if (i % 16 == 8) {
        out += ' ';
      }
      if (i < bytes.size()) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        out += hex;
        text += Printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + text + "|\n";
  }
  return out;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string VersionText(uint8_t major, uint8_t minor) {
  const std::string digits = HexBytes({major, minor});
  return digits.substr(0, 1) + "." + digits.substr(1);
}

}  // namespace kova::cli
