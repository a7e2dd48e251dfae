#include "config/config_lines.h"

namespace kova {

namespace {

enum class ScanState { kCollecting, kSkippingToLf, kDone };

}  // namespace

ConfigLines ScanConfigLines(const uint8_t* data, int32_t len) {
  ConfigLines out;
  std::array<std::string, kConfigLineCount> raw;
  ScanState state = ScanState::kCollecting;
  for (int32_t i = 0; i < len && state != ScanState::kDone; ++i) {
    const uint8_t byte = data[i];
    if (state == ScanState::kCollecting) {
      if (byte == '\r') {
        state = ScanState::kSkippingToLf;
        continue;
      }
      const int line = out.search_line;
      if (out.count[line] == kConfigLineMax) {
        break;  // an overlong line rejects the whole file
      }
      raw[line].push_back(static_cast<char>(byte));
      ++out.count[line];
    } else if (byte == '\n') {
      ++out.search_line;
      state = out.search_line == kConfigLineCount ? ScanState::kDone : ScanState::kCollecting;
    }
  }
  out.complete = state == ScanState::kDone;
  for (int line = 0; line < kConfigLineCount; ++line) {
    // The line field is zero-terminated, so an embedded NUL ends its text.
    out.text[line] = raw[line].c_str();
  }
  return out;
}

}  // namespace kova
