#pragma once

#include <optional>
#include <string>

namespace kova::cli {

// The version before an upgrade of a board that waited in its bootloader.
constexpr const char* kVersionInBootloader = "bootloader";

// What the version polls after an upgrade say of the board. An answer shows
// the new firmware only once the board has missed a poll since the upgrade
// ended (it restarted) or when it names another version than before: a board
// that answers throughout with its old version never restarted.
class RestartWatch {
 public:
  // `before`: the version read before the upgrade ("0.107"), "bootloader"
  // when the board was in it, nothing when it could not be read.
  explicit RestartWatch(std::optional<std::string> before) : before_(std::move(before)) {}

  // One poll: the version answered, or nothing.
  void Poll(const std::optional<std::string>& answer);
  // Whether the board came back with its new firmware; After() names it.
  bool CameBack() const { return after_.has_value(); }
  const std::string& After() const { return *after_; }
  // Why the board does not count as upgraded when the polls ended without
  // it: "no-reply-after-upgrade" or "not-restarted".
  const char* Reason() const;

 private:
  std::optional<std::string> before_;
  bool missed_ = false;
  bool lastAnswered_ = false;
  std::optional<std::string> after_;
};

// "v0.107"; "bootloader" as it is, `unknown` for a version not read.
std::string VersionShown(const std::optional<std::string>& version, const char* unknown);

// "Firmware v0.107 -> v0.108"; a version not read is "unknown".
std::string FirmwareChangeLine(const std::optional<std::string>& before, const std::string& after);

}  // namespace kova::cli
