#include "cli/restart_watch.h"

namespace kova::cli {

std::string VersionShown(const std::optional<std::string>& version, const char* unknown) {
  if (!version) {
    return unknown;
  }
  return *version == kVersionInBootloader ? *version : "v" + *version;
}

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
  return "Firmware " + VersionShown(before, "unknown") + " -> " + VersionShown(after, "unknown");
}

}  // namespace kova::cli
