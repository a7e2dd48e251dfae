#include "frontend/operation_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>
#include <vector>

#include "platform/host_files.h"

namespace kova {

namespace {

constexpr size_t kFlushAt = 64 * 1024;

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  return host::LocalTime(std::chrono::system_clock::to_time_t(when));
}

std::string DateOf(std::chrono::system_clock::time_point when) {
  const std::tm local = LocalTime(when);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

// YYYY-MM-DD.log, the only files the log prunes.
bool IsDailyName(const std::string& name) {
  if (name.size() != 14 || name.compare(10, 4, ".log") != 0) {
    return false;
  }
  for (size_t i = 0; i < 10; ++i) {
    const bool dash = i == 4 || i == 7;
    if (dash ? name[i] != '-' : (name[i] < '0' || name[i] > '9')) {
      return false;
    }
  }
  return true;
}

}  // namespace

OperationLog::OperationLog(std::string directory, LogLimits limits, Warning warn, Clock clock)
    : directory_(std::move(directory)),
      daily_(true),
      limits_(limits),
      warn_(std::move(warn)),
      clock_(std::move(clock)) {}

OperationLog::OperationLog(std::string path, Warning warn, Clock clock, bool daily,
                           LogLimits limits)
    : path_(std::move(path)),
      daily_(daily),
      limits_(limits),
      warn_(std::move(warn)),
      clock_(std::move(clock)) {}

std::unique_ptr<OperationLog> OperationLog::ToFile(std::string path, Warning warn, Clock clock) {
  return std::unique_ptr<OperationLog>(
      new OperationLog(std::move(path), std::move(warn), std::move(clock), false, LogLimits{}));
}

OperationLog::~OperationLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteMessageLine();
  EndLine();
  Flush();
  if (fd_ >= 0) {
    close(fd_);
  }
}

std::string OperationLog::DefaultDirectory() {
  return host::UserStateDirectory("kova-upgrade");
}

std::chrono::system_clock::time_point OperationLog::Now() const {
  return clock_ ? clock_() : std::chrono::system_clock::now();
}

std::string OperationLog::TimeOfDay() const {
  const auto now = Now();
  const std::tm local = LocalTime(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) %
                  std::chrono::seconds(1);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms.count()));
  return text;
}

void OperationLog::Fail(const std::string& what, int err) {
  Fail(what, std::string(std::strerror(err)));
}

void OperationLog::Fail(const std::string& what, const std::string& reason) {
  if (broken_) {
    return;
  }
  broken_ = true;
  pending_.clear();
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (warn_) {
    warn_("cannot write the log " + what + ": " + reason + "; operations are not logged");
  }
}

void OperationLog::Prune(const std::string& today) {
  std::vector<std::pair<std::string, uint64_t>> files;
  for (const host::DirectoryFile& file : host::RegularFiles(directory_)) {
    if (IsDailyName(file.name)) {
      files.emplace_back(file.name, file.size);
    }
  }
  std::sort(files.begin(), files.end());  // the names sort by date

  const auto firstKept = Now() - std::chrono::hours(24) * (std::max(limits_.days, 1) - 1);
  const std::string oldestKept = DateOf(firstKept) + ".log";
  uint64_t total = 0;
  std::vector<std::pair<std::string, uint64_t>> kept;
  for (const auto& file : files) {
    if (file.first < oldestKept && file.first != today) {
      host::RemoveFile(directory_ + "/" + file.first);
    } else {
      kept.push_back(file);
      total += file.second;
    }
  }
  uint64_t todayBytes = 0;
  for (const auto& file : kept) {
    if (file.first == today) {
      todayBytes = file.second;
    } else if (total > limits_.bytes && host::RemoveFile(directory_ + "/" + file.first)) {
      total -= file.second;
    }
  }
  const uint64_t others = total - todayBytes;
  budget_ = limits_.bytes > others ? limits_.bytes - others : 0;
}

void OperationLog::OpenForToday() {
  std::string path = path_;
  if (daily_) {
    if (directory_.empty()) {
      Fail("(no directory: " + host::UserStateDirectoryRule() + ")", ENOENT);
      return;
    }
    if (!host::MakeDirectories(directory_)) {
      Fail(directory_, errno);
      return;
    }
    const std::string today = DateOf(Now()) + ".log";
    Prune(today);
    path = directory_ + "/" + today;
  } else {
    budget_ = std::numeric_limits<uint64_t>::max();
  }
  if (fd_ >= 0 && path == path_) {
    return;
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  path_ = path;
  // Only a regular file: a FIFO, a terminal or a device could hold every
  // write for as long as its reader pleases.
  constexpr const char* kNotRegular = "not a regular file";
  fd_ = host::OpenForAppending(path_);
  if (fd_ < 0) {
    const int err = errno;
    if (err != ENOENT && host::IsOtherThanRegularFile(path_)) {
      Fail(path_, kNotRegular);
    } else {
      Fail(path_, err);
    }
    return;
  }
  if (host::KindOf(fd_) != host::FileKind::kRegular) {
    Fail(path_, kNotRegular);
    return;
  }
  struct stat st {};
  fileBytes_ = (fstat(fd_, &st) == 0) ? static_cast<uint64_t>(st.st_size) : 0;
  full_ = false;
}

void OperationLog::Flush() {
  size_t done = 0;
  while (fd_ >= 0 && done < pending_.size()) {
    const auto n =
        write(fd_, pending_.data() + done, static_cast<unsigned>(pending_.size() - done));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail(path_, errno);
      return;
    }
    done += static_cast<size_t>(n);
  }
  pending_.clear();
}

void OperationLog::Put(const std::string& bytes) {
  if (fd_ < 0 || broken_ || full_) {
    return;
  }
  if (fileBytes_ + bytes.size() > budget_) {
    full_ = true;
    pending_ += (lineOpen_ ? "\n" : "") + TimeOfDay() +
                " ==== log full: nothing more is logged in this file\n";
    lineOpen_ = false;
    Flush();
    return;
  }
  pending_ += bytes;
  fileBytes_ += bytes.size();
  if (pending_.size() >= kFlushAt) {
    // Whole lines only: another program may append to the same day's file.
    const size_t end = pending_.rfind('\n');
    if (end != std::string::npos) {
      std::string rest = pending_.substr(end + 1);
      pending_.resize(end + 1);
      Flush();
      pending_ = std::move(rest);
    }
  }
}

void OperationLog::StartLine() {
  if (!lineOpen_) {
    Put(TimeOfDay() + " ");
    lineOpen_ = true;
  }
}

void OperationLog::EndLine() {
  if (lineOpen_) {
    Put("\n");
    lineOpen_ = false;
  }
}

void OperationLog::Begin(const OperationStart& start) {
  std::lock_guard<std::mutex> lock(mutex_);
  inOperation_ = true;
  started_ = std::chrono::steady_clock::now();
  if (broken_) {
    return;
  }
  WriteMessageLine();
  EndLine();
  Flush();
  OpenForToday();
  Put(DateOf(Now()) + " " + TimeOfDay() + " ==== " + start.action + " on " +
      (start.interfaceName.empty() ? std::string("(no interface)") : start.interfaceName) +
      ", board " + (start.mac.empty() ? std::string("(none)") : start.mac) + " (" + start.program +
      ", pid " + std::to_string(host::ProcessId()) + ")\n");
  Flush();
}

void OperationLog::Text(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t from = 0;
  while (from < text.size()) {
    const size_t newline = text.find('\n', from);
    const size_t end = (newline == std::string::npos) ? text.size() : newline;
    if (end > from) {
      StartLine();
      Put(text.substr(from, end - from));
    }
    if (newline == std::string::npos) {
      break;
    }
    EndLine();
    from = newline + 1;
  }
}

void OperationLog::WriteMessageLine() {
  if (messageLine_.empty()) {
    return;
  }
  EndLine();
  StartLine();
  Put(messageLine_);
  EndLine();
  messageLine_.clear();
}

void OperationLog::Message(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t from = 0;
  for (;;) {
    const size_t newline = text.find('\n', from);
    messageLine_ += text.substr(from, newline == std::string::npos ? newline : newline - from);
    if (newline == std::string::npos) {
      break;
    }
    WriteMessageLine();
    from = newline + 1;
  }
}

void OperationLog::Box(const std::string& caption, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteMessageLine();
  EndLine();
  const std::string body = (!text.empty() && text.front() == '\n') ? text.substr(1) : text;
  StartLine();
  Put("[" + caption + "] ");
  size_t from = 0;
  for (;;) {
    const size_t newline = body.find('\n', from);
    Put(body.substr(from, newline == std::string::npos ? std::string::npos : newline - from));
    if (newline == std::string::npos) {
      break;
    }
    EndLine();
    StartLine();
    from = newline + 1;
  }
  EndLine();
  Flush();
}

void OperationLog::End(bool ok, const std::string& reason, const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!inOperation_) {
    return;
  }
  inOperation_ = false;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.1f s", seconds);
  std::string line = TimeOfDay() + " ==== " + (ok ? "ok" : "failed");
  if (!reason.empty()) {
    line += ": " + reason;
  }
  if (!address.empty()) {
    line += ", board at " + address;
  }
  line += std::string(", ") + elapsed + "\n";
  WriteMessageLine();
  EndLine();
  Put(line);
  Flush();
}

}  // namespace kova
