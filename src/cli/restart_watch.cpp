#include "cli/restart_watch.h"

namespace kova::cli {

namespace {

constexpr const char* kInBootloader = "bootloader";

std::string Shown(const std::optional<std::string>& version) {
  if (!version) {
    return "unknown";
  }
  return *version == kInBootloader ? *version : "v" + *version;
}

}  // namespace

void RestartWatch::Poll(const std::optional<std::string>& answer) {
  if (after_) {
    return;
  }
  lastAnswered_ = answer.has_value();
  if (!answer) {
    missed_ = true;
    return;
  }
  if (missed_ || (before_ && *answer != *before_)) {
    after_ = answer;
  }
}

const char* RestartWatch::Reason() const {
  return lastAnswered_ ? "not-restarted" : "no-reply-after-upgrade";
}

std::string FirmwareChangeLine(const std::optional<std::string>& before, const std::string& after) {
  return "Firmware " + Shown(before) + " -> " + Shown(after);
}

}  // namespace kova::cli
