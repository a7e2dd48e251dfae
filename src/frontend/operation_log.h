#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kova {

// How much of the past the daily files keep: the last `days` days, and at
// most `bytes` in all. A day is written in files of a tenth of `bytes` at
// most, so that the oldest of them can go first, within the day as well.
struct LogLimits {
  int days = 30;
  uint64_t bytes = 100ull * 1000 * 1000;
};

struct OperationStart {
  std::string program;  // "kova-upgrade", "kova-upgrade-tool"
  std::string action;
  std::string interfaceName;
  std::string mac;
};

// A log of every operation for the people who look back at a day's work:
// its start, every message, the notes of its course (images, phases,
// attempts), the boxes and the result, each line with its time; the trace
// lines (sockets, decoders, byte dumps) only when asked for. Nothing reads
// it back. A log that cannot be written, or is full with nothing older to
// drop, never fails an operation: the warning is given once.
// Only regular files are written, never waiting for a reader.
// Safe to call from any thread.
class OperationLog {
 public:
  using Warning = std::function<void(const std::string&)>;
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // Daily files in `directory` (made if missing), kept within `limits`: a
  // day's first file is YYYY-MM-DD.log, the next ones YYYY-MM-DD.1.log,
  // YYYY-MM-DD.2.log ...
  OperationLog(std::string directory, LogLimits limits, Warning warn, Clock clock = {});
  // Every operation appended to the one file `path`.
  static std::unique_ptr<OperationLog> ToFile(std::string path, Warning warn, Clock clock = {});
  ~OperationLog();
  OperationLog(const OperationLog&) = delete;
  OperationLog& operator=(const OperationLog&) = delete;

  // $XDG_STATE_HOME/kova-upgrade, else $HOME/.local/state/kova-upgrade;
  // empty when neither variable is set.
  static std::string DefaultDirectory();

  // Every line after its time names `card` ("[eth1] "): a station's cards
  // write the same day's files at once. Not named at first.
  void NameCard(const std::string& card);

  // Trace lines are left out unless `on`; off at first.
  void KeepTraces(bool on);

  void Begin(const OperationStart& start);
  // Trace text as the engine composes it: a "\n" starts a new line.
  void Text(const std::string& text);
  // A line of the operation's course, always logged: "==== " and `text`.
  void Note(const std::string& text);
  // Message-list text. A message line is completed piece by piece while
  // traces go on ("... " then "Successful !======"): it is written whole,
  // with the time it was completed, when the next one begins.
  void Message(const std::string& text);
  void Box(const std::string& caption, const std::string& text);
  // Ends the operation begun last; a second call does nothing. `reason`
  // and `address` may be empty.
  void End(bool ok, const std::string& reason, const std::string& address);

 private:
  OperationLog(std::string path, Warning warn, Clock clock, bool daily, LogLimits limits);

  std::chrono::system_clock::time_point Now() const;
  std::string TimeOfDay() const;
  // The start of every line: its time, and the card when named.
  std::string Stamp() const;
  void OpenForToday();
  bool OpenFile(const std::string& path);
  void CloseFile();
  void NextFile();
  // Removes the oldest daily files but the one being written until `more`
  // bytes fit within the limit; false when they cannot.
  bool MakeRoom(uint64_t more);
  void LogFull();
  void StartLine();
  void EndLine();
  void WriteMessageLine();
  void Put(const std::string& bytes);
  void Flush();
  void Fail(const std::string& what, int err);
  void Fail(const std::string& what, const std::string& reason);

  std::mutex mutex_;
  std::string directory_;  // daily files; empty with a fixed file
  std::string path_;
  bool daily_;
  LogLimits limits_;
  Warning warn_;
  Clock clock_;

  int fd_ = -1;
  bool broken_ = false;
  bool full_ = false;
  bool fullWarned_ = false;
  bool traces_ = false;
  std::string card_;         // "[eth1] " or empty
  uint64_t fileBytes_ = 0;   // size of the file, written bytes included
  uint64_t otherBytes_ = 0;  // the other daily files kept, as last counted
  std::string day_;          // the date of the file being written
  int part_ = 0;             // its number within the day; 0 for YYYY-MM-DD.log
  std::string pending_;
  std::string messageLine_;
  bool lineOpen_ = false;
  bool inOperation_ = false;
  std::chrono::steady_clock::time_point started_{};
};

}  // namespace kova
