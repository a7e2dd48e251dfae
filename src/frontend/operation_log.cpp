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
#include <map>
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

// A day is cut into files of this share of the whole limit at most.
constexpr uint64_t kFilesPerLimit = 10;

// A daily file: YYYY-MM-DD.log is the day's first (part 0), then
// YYYY-MM-DD.1.log, YYYY-MM-DD.2.log ... The only files the log prunes.
struct DailyFile {
  std::string date;
  int part = 0;
  std::string name;
  uint64_t size = 0;
  bool operator<(const DailyFile& other) const {
    return date != other.date ? date < other.date : part < other.part;
  }
};

bool IsDate(const std::string& text) {
  if (text.size() != 10) {
    return false;
  }
  for (size_t i = 0; i < 10; ++i) {
    const bool dash = i == 4 || i == 7;
    if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9')) {
      return false;
    }
  }
  return true;
}

bool ParseDailyName(const std::string& name, DailyFile& file) {
  if (name.size() < 14 || !IsDate(name.substr(0, 10)) ||
      name.compare(name.size() - 4, 4, ".log") != 0) {
    return false;
  }
  file.date = name.substr(0, 10);
  file.name = name;
  file.part = 0;
  if (name.size() == 14) {
    return true;
  }
  // ".N" between the date and ".log": 1 to 6 digits, no leading zero.
  const std::string number = name.substr(10, name.size() - 14);
  if (number.size() < 2 || number.size() > 7 || number[0] != '.' || number[1] == '0') {
    return false;
  }
  for (size_t i = 1; i < number.size(); ++i) {
    if (number[i] < '0' || number[i] > '9') {
      return false;
    }
    file.part = file.part * 10 + (number[i] - '0');
  }
  return true;
}

std::string DailyName(const std::string& date, int part) {
  return part == 0 ? date + ".log" : date + "." + std::to_string(part) + ".log";
}

// The daily files in `directory`, oldest first.
std::vector<DailyFile> DailyFiles(const std::string& directory) {
  std::vector<DailyFile> files;
  for (const host::DirectoryFile& entry : host::RegularFiles(directory)) {
    DailyFile file;
    if (ParseDailyName(entry.name, file)) {
      file.size = entry.size;
      files.push_back(file);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The files this process's logs are writing, by path, and how many logs write
// each. A station has a log per card, all in the same day's files: making
// room, one never removes a file that another is still writing (its lines
// would go on into a file no longer in the directory). The clean-ups and the
// writes of these logs go one at a time as well, so that two counts never
// race and a write completed in pieces is never cut by another's line.
struct FilesInUse {
  std::mutex mutex;
  std::map<std::string, int> paths;
  bool Holds(const std::string& path) const { return paths.count(path) != 0; }
};

FilesInUse& InUse() {
  static FilesInUse files;
  return files;
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
  CloseFile();
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

std::string OperationLog::Stamp() const {
  return TimeOfDay() + " " + card_;
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
  CloseFile();
  if (warn_) {
    warn_("cannot write the log " + what + ": " + reason + "; operations are not logged");
  }
}

void OperationLog::CloseFile() {
  if (fd_ < 0) {
    return;
  }
  close(fd_);
  fd_ = -1;
  FilesInUse& inUse = InUse();
  std::lock_guard<std::mutex> lock(inUse.mutex);
  const auto it = inUse.paths.find(path_);
  if (it != inUse.paths.end() && --it->second == 0) {
    inUse.paths.erase(it);
  }
}

bool OperationLog::MakeRoom(uint64_t more) {
  FilesInUse& inUse = InUse();
  std::lock_guard<std::mutex> lock(inUse.mutex);
  // Counted afresh: another program may write the same day's files.
  const std::string current = DailyName(day_, part_);
  struct stat st {};
  if (fstat(fd_, &st) == 0) {
    fileBytes_ = static_cast<uint64_t>(st.st_size) + pending_.size();
  }
  uint64_t others = 0;
  std::vector<DailyFile> files;
  for (const DailyFile& file : DailyFiles(directory_)) {
    if (file.name != current) {
      others += file.size;
      // Another log of this process writes it: it stays, and counts.
      if (!inUse.Holds(directory_ + "/" + file.name)) {
        files.push_back(file);
      }
    }
  }
  for (const DailyFile& file : files) {
    if (others + fileBytes_ + more <= limits_.bytes) {
      break;
    }
    if (host::RemoveFile(directory_ + "/" + file.name)) {
      others -= file.size;
    }
  }
  otherBytes_ = others;
  return others + fileBytes_ + more <= limits_.bytes;
}

bool OperationLog::OpenFile(const std::string& path) {
  struct stat st {};
  // A file removed under us (another program made room) is made anew.
  if (fd_ >= 0 && path == path_ && fstat(fd_, &st) == 0 && st.st_nlink > 0) {
    fileBytes_ = static_cast<uint64_t>(st.st_size) + pending_.size();
    return true;
  }
  CloseFile();
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
    return false;
  }
  {
    FilesInUse& inUse = InUse();
    std::lock_guard<std::mutex> lock(inUse.mutex);
    ++inUse.paths[path_];
  }
  if (host::KindOf(fd_) != host::FileKind::kRegular) {
    Fail(path_, kNotRegular);
    return false;
  }
  fileBytes_ = ((fstat(fd_, &st) == 0) ? static_cast<uint64_t>(st.st_size) : 0) + pending_.size();
  return true;
}

void OperationLog::OpenForToday() {
  full_ = false;
  if (!daily_) {
    OpenFile(path_);
    return;
  }
  if (directory_.empty()) {
    Fail("(no directory: " + host::UserStateDirectoryRule() + ")", ENOENT);
    return;
  }
  if (!host::MakeDirectories(directory_)) {
    Fail(directory_, errno);
    return;
  }
  const std::string today = DateOf(Now());
  const auto firstKept = Now() - std::chrono::hours(24) * (std::max(limits_.days, 1) - 1);
  const std::string oldestKept = DateOf(firstKept);
  int lastPart = 0;
  {
    FilesInUse& inUse = InUse();
    std::lock_guard<std::mutex> lock(inUse.mutex);
    for (const DailyFile& file : DailyFiles(directory_)) {
      const std::string path = directory_ + "/" + file.name;
      if (file.date < oldestKept && file.date != today && !inUse.Holds(path)) {
        host::RemoveFile(path);
      } else if (file.date == today) {
        lastPart = std::max(lastPart, file.part);
      }
    }
  }
  // The day goes on in its last file; one opened before keeps its number
  // unless another program has gone further.
  if (day_ != today || fd_ < 0 || lastPart > part_) {
    day_ = today;
    part_ = lastPart;
  }
  if (OpenFile(directory_ + "/" + DailyName(day_, part_))) {
    MakeRoom(0);
  }
}

void OperationLog::NextFile() {
  Flush();
  otherBytes_ += fileBytes_;
  int next = part_ + 1;
  for (const DailyFile& file : DailyFiles(directory_)) {
    if (file.date != day_ || file.part <= part_) {
      continue;
    }
    // Another program went on before us: join its file while it has room.
    next = std::max(next, file.size < limits_.bytes / kFilesPerLimit ? file.part : file.part + 1);
  }
  part_ = next;
  OpenFile(directory_ + "/" + DailyName(day_, part_));
}

void OperationLog::LogFull() {
  full_ = true;
  if (fullWarned_) {
    // Said once already, in the file and to the owner.
    if (lineOpen_) {
      pending_ += "\n";
      lineOpen_ = false;
      Flush();
    }
    return;
  }
  fullWarned_ = true;
  pending_ += (lineOpen_ ? "\n" : "") + Stamp() +
              "==== log full: nothing older to drop, nothing more is logged\n";
  lineOpen_ = false;
  Flush();
  if (warn_) {
    warn_("the log in " + directory_ + " is full (" + std::to_string(limits_.bytes) +
          " bytes) with nothing older to drop; operations are not logged");
  }
}

void OperationLog::Flush() {
  if (fd_ < 0 || pending_.empty()) {
    pending_.clear();
    return;
  }
  struct stat st {};
  // Removed under us by another program making room: the lines go on in
  // the file made anew, not into one that nobody can read any more.
  if (daily_ && fstat(fd_, &st) == 0 && st.st_nlink == 0 && !OpenFile(path_)) {
    return;
  }
  int err = 0;
  {
    FilesInUse& inUse = InUse();
    std::lock_guard<std::mutex> lock(inUse.mutex);
    size_t done = 0;
    while (done < pending_.size()) {
      const auto n =
          write(fd_, pending_.data() + done, static_cast<unsigned>(pending_.size() - done));
      if (n < 0) {
        if (errno == EINTR) {
          continue;
        }
        err = errno;
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  if (err != 0) {
    Fail(path_, err);
    return;
  }
  pending_.clear();
}

void OperationLog::Put(const std::string& bytes) {
  if (fd_ < 0 || broken_ || full_) {
    return;
  }
  if (daily_) {
    // A new file only where a line begins, so that every file holds whole lines.
    const uint64_t fileLimit = std::max<uint64_t>(limits_.bytes / kFilesPerLimit, 1);
    if (!lineOpen_ && fileBytes_ > 0 && fileBytes_ + bytes.size() > fileLimit) {
      NextFile();
      if (fd_ < 0) {
        return;
      }
    }
    if (otherBytes_ + fileBytes_ + bytes.size() > limits_.bytes && !MakeRoom(bytes.size())) {
      LogFull();
      return;
    }
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
    Put(Stamp());
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
  Put(DateOf(Now()) + " " + Stamp() + "==== " + start.action + " on " +
      (start.interfaceName.empty() ? std::string("(no interface)") : start.interfaceName) +
      ", board " + (start.mac.empty() ? std::string("(none)") : start.mac) + " (" + start.program +
      ", pid " + std::to_string(host::ProcessId()) + ")\n");
  Flush();
}

void OperationLog::NameCard(const std::string& card) {
  std::lock_guard<std::mutex> lock(mutex_);
  card_ = card.empty() ? "" : "[" + card + "] ";
}

void OperationLog::KeepTraces(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  traces_ = on;
}

void OperationLog::Text(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!traces_) {
    return;
  }
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

void OperationLog::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  WriteMessageLine();
  EndLine();
  Put(Stamp() + "==== " + text + "\n");
  Flush();
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
  if (!lineOpen_) {
    Flush();
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
  std::string line = Stamp() + "==== " + (ok ? "ok" : "failed");
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
