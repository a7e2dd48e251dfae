#include <windows.h>

#include <cstdlib>

#include "frontend/interface_lock.h"
#include "frontend/lock_holder.h"
#include "platform/host_files.h"
#include "platform/wide_text_windows.h"

namespace kova {

namespace {

// The lock is one byte far past the holder's record, so that a process that
// finds the lock taken can still read who holds it.
constexpr DWORD kLockOffset = 0x7FFFFFFF;

// The holder's record, read without waiting for the lock.
std::string Holder(HANDLE file) {
  char buffer[256];
  DWORD n = 0;
  OVERLAPPED at{};
  if (!ReadFile(file, buffer, sizeof buffer, &n, &at)) {
    n = 0;
  }
  return DescribeHolder(buffer, n);
}

HANDLE OpenLockFile(const std::wstring& path, DWORD access) {
  // Shared for everything: the byte-range lock is the lock. The handle is
  // not inherited (no security attributes).
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

InterfaceLock::InterfaceLock(std::string directory) : directory_(std::move(directory)) {
  if (directory_.empty()) {
    const wchar_t* env = _wgetenv(L"KOVA_LOCK_DIR");
    const wchar_t* data = _wgetenv(L"ProgramData");
    if (env != nullptr && *env != L'\0') {
      directory_ = host::Narrow(env);
    } else if (data != nullptr && *data != L'\0') {
      directory_ = host::Narrow(data) + "\\kova-upgrade";
    } else {
      directory_ = "C:\\ProgramData\\kova-upgrade";
    }
  }
}

InterfaceLock::~InterfaceLock() {
  Release();
}

std::string InterfaceLock::PathFor(const std::string& interfaceName) const {
  return directory_ + "\\kova-upgrade." + LockFileSafeName(interfaceName) + ".lock";
}

InterfaceLock::Outcome InterfaceLock::Take(const std::string& interfaceName,
                                           const std::string& program, std::string& detail) {
  Release();
  if (!host::MakeDirectories(directory_)) {
    detail = directory_ + ": " + host::SystemMessage(GetLastError());
    return Outcome::kUnavailable;
  }
  const std::string path = PathFor(interfaceName);
  const std::wstring wide = host::Widen(path);
  HANDLE file = OpenLockFile(wide, GENERIC_READ | GENERIC_WRITE);
  if (file == INVALID_HANDLE_VALUE) {
    // Another user's file may still be opened for reading, which is all
    // the lock needs.
    file = OpenLockFile(wide, GENERIC_READ);
  }
  if (file == INVALID_HANDLE_VALUE) {
    detail = path + ": " + host::SystemMessage(GetLastError());
    return Outcome::kUnavailable;
  }
  OVERLAPPED at{};
  at.Offset = kLockOffset;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD err = GetLastError();
    if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) {
      detail = Holder(file);
      CloseHandle(file);
      return Outcome::kHeld;
    }
    detail = path + ": " + host::SystemMessage(err);
    CloseHandle(file);
    return Outcome::kUnavailable;
  }
  const std::string record = HolderRecord(program);
  // The holder's record is a courtesy; the lock is the lock.
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  if (SetEndOfFile(file)) {
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  }
  lock_ = reinterpret_cast<intptr_t>(file);
  return Outcome::kTaken;
}

void InterfaceLock::Release() {
  if (lock_ == -1) {
    return;
  }
  const HANDLE file = reinterpret_cast<HANDLE>(lock_);
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(file);  // left as it was on failure: the next holder rewrites it
  OVERLAPPED at{};
  at.Offset = kLockOffset;
  UnlockFileEx(file, 0, 1, 0, &at);
  CloseHandle(file);
  lock_ = -1;
}

}  // namespace kova
