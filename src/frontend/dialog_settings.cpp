#include "frontend/dialog_settings.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/host_files.h"

namespace kova {

namespace {

constexpr size_t kMaxSettingsBytes = 64 * 1024;

std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::u8path(utf8);
}

}  // namespace

DialogSettings::DialogSettings(std::string path) : path_(std::move(path)) {
  if (path_.empty()) {
    return;
  }
  std::ifstream in(FsPath(path_), std::ios::binary);
  std::string line;
  size_t read = 0;
  while (read < kMaxSettingsBytes && std::getline(in, line)) {
    read += line.size() + 1;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const size_t eq = line.find('=');
    if (eq != std::string::npos && eq > 0) {
      values_[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
}

std::string DialogSettings::Get(const std::string& key) const {
  const auto it = values_.find(key);
  return it == values_.end() ? "" : it->second;
}

void DialogSettings::Set(const std::string& key, const std::string& value) {
  // A line break would end the value early and start a line of its own.
  if (value.find_first_of("\r\n") != std::string::npos) {
    return;
  }
  values_[key] = value;
}

bool DialogSettings::Save(std::string& why) const {
  if (path_.empty()) {
    why = "no place for settings";
    return false;
  }
  const std::filesystem::path target = FsPath(path_);
  const std::string folder = target.parent_path().u8string();
  if (!folder.empty() && !host::MakeDirectories(folder)) {
    why = folder + ": " + std::strerror(errno);
    return false;
  }
  std::filesystem::path fresh = target;
  fresh += ".new";
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    for (const auto& [key, value] : values_) {
      out << key << '=' << value << '\n';
    }
    out.flush();
    if (!out) {
      why = fresh.u8string() + ": cannot be written";
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(fresh, target, error);
  if (error) {
    std::filesystem::remove(fresh, error);
    why = path_ + ": cannot be replaced";
    return false;
  }
  return true;
}

}  // namespace kova
