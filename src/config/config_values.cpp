#include "config/config_values.h"

namespace kova {

namespace {

// True when `s` is one well-formed UTF-8 sequence; a malformed line would not
// decode to any character at all.
bool IsSingleUtf8Char(const std::string& s) {
  if (s.empty()) {
    return false;
  }
  const auto b = [&s](size_t i) { return static_cast<uint8_t>(s[i]); };
  const uint8_t lead = b(0);
  size_t size = 0;
  uint8_t lo = 0x80;
  uint8_t hi = 0xBF;  // allowed range of the first continuation byte
  if (lead < 0x80) {
    size = 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    lo = lead == 0xE0 ? 0xA0 : 0x80;
    hi = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    lo = lead == 0xF0 ? 0x90 : 0x80;
    hi = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return false;
  }
  if (s.size() != size) {
    return false;
  }
  for (size_t i = 1; i < size; ++i) {
    const uint8_t min = i == 1 ? lo : 0x80;
    const uint8_t max = i == 1 ? hi : 0xBF;
    if (b(i) < min || b(i) > max) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseRunStep(const std::string& line, int& run_step) {
  if (!IsSingleUtf8Char(line)) {
    run_step = 0;
    return false;
  }
  const char c = line[0];
  if (c >= '0' && c <= '9') {
    run_step = c - '0';
  } else if (c >= 'A' && c <= 'F') {
    run_step = c - 'A' + 10;
  } else if (c >= 'a' && c <= 'f') {
    run_step = c - 'a' + 10;
  } else {
    run_step = 255;
  }
  return true;
}

bool ParseJumpSetting(const std::string& line, int32_t& flag) {
  if (line == "ENABLE") {
    flag = 0;
    return true;
  }
  if (line == "DISABLE") {
    flag = 3;
    return true;
  }
  if (line == "REMOTE") {
    flag = 4;
    return true;
  }
  flag = 3;
  return false;
}

}  // namespace kova
