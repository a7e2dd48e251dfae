#pragma once

#include <cstdint>
#include <string>

namespace kova {

// One operation per interface. Two programs on one interface would share the
// derived board address, its neighbour entry and ports 67 and 69, and the
// clean-up of one would remove the other's entry. The lock is taken for the
// length of an operation, machine-wide, and the system drops it with the
// process, however that ends: on Linux an exclusive flock on a file per
// interface and network namespace (the same name in another namespace is
// another interface), on Windows a byte-range lock on a file per adapter
// under %ProgramData%\kova-upgrade.
class InterfaceLock {
 public:
  enum class Outcome {
    kTaken,
    kHeld,         // another process has it
    kUnavailable,  // no lock file could be made; the caller goes on without
  };

  // `directory` holds the lock files; empty: $KOVA_LOCK_DIR, else /run/lock
  // (/tmp where there is none) on Linux, %ProgramData%\kova-upgrade on
  // Windows.
  explicit InterfaceLock(std::string directory = "");
  ~InterfaceLock();
  InterfaceLock(const InterfaceLock&) = delete;
  InterfaceLock& operator=(const InterfaceLock&) = delete;

  // Takes the lock of `interfaceName` for `program`. kHeld: `detail` names
  // the holder ("kova-upgrade, pid 4711, since 2025-06-01 10:15:02");
  // kUnavailable: `detail` says why. Taking it again first releases it.
  Outcome Take(const std::string& interfaceName, const std::string& program, std::string& detail);
  void Release();
  bool Taken() const { return lock_ != -1; }

  // The lock file of `interfaceName` in this network namespace.
  std::string PathFor(const std::string& interfaceName) const;

 private:
  std::string directory_;
  intptr_t lock_ = -1;  // the open lock file: a descriptor, or a HANDLE on Windows
};

}  // namespace kova
