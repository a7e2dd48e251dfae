#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kova {

// How much of the past the daily files keep: the last `days` days, and at
// most `bytes` in all, the oldest days dropped first.
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
// its start, every message and trace line, the boxes and the result, each
// line with its time. Nothing reads it back. A log that cannot be written
// never fails an operation: the warning is given once and logging stops.
// Only regular files are written, never waiting for a reader.
// Safe to call from any thread.
class OperationLog {
 public:
  using Warning = std::function<void(const std::string&)>;
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // Daily files YYYY-MM-DD.log in `directory` (made if missing), kept
  // within `limits`.
  OperationLog(std::string directory, LogLimits limits, Warning warn, Clock clock = {});
  // Every operation appended to the one file `path`.
  static std::unique_ptr<OperationLog> ToFile(std::string path, Warning warn, Clock clock = {});
  ~OperationLog();
  OperationLog(const OperationLog&) = delete;
  OperationLog& operator=(const OperationLog&) = delete;

  // $XDG_STATE_HOME/kova-upgrade, else $HOME/.local/state/kova-upgrade;
  // empty when neither variable is set.
  static std::string DefaultDirectory();

  void Begin(const OperationStart& start);
  // Trace text as the engine composes it: a "\n" starts a new line.
  void Text(const std::string& text);
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
  void OpenForToday();
  void Prune(const std::string& today);
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
  uint64_t fileBytes_ = 0;  // size of the file, written bytes included
  uint64_t budget_ = 0;     // what the current file may grow to
  std::string pending_;
  std::string messageLine_;
  bool lineOpen_ = false;
  bool inOperation_ = false;
  std::chrono::steady_clock::time_point started_{};
};

}  // namespace kova
