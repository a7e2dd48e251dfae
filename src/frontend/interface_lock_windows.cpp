#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "frontend/interface_lock.h"
#include "platform/host_files.h"
#include "platform/wide_text_windows.h"

namespace kova {

namespace {

// The lock is one byte far past the holder's record, so that a process that
// finds the lock taken can still read who holds it.
constexpr DWORD kLockOffset = 0x7FFFFFFF;

std::string SafeName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) {
      c = '_';
    }
  }
  return safe;
}

std::string Now() {
  const std::tm local = host::LocalTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n > 0 ? host::Narrow(text) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

// The holder's record: "PID PROGRAM DATE TIME".
std::string DescribeHolder(HANDLE file) {
  char buffer[256];
  DWORD n = 0;
  OVERLAPPED at{};
  if (!ReadFile(file, buffer, sizeof buffer - 1, &n, &at) || n == 0) {
    return "another process";
  }
  buffer[n] = '\0';
  char program[128] = "";
  char date[16] = "";
  char time[16] = "";
  long pid = 0;
  if (std::sscanf(buffer, "%ld %127s %15s %15s", &pid, program, date, time) != 4) {
    return "another process";
  }
  return std::string(program) + ", pid " + std::to_string(pid) + ", since " + date + " " + time;
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
  return directory_ + "\\kova-upgrade." + SafeName(interfaceName) + ".lock";
}

InterfaceLock::Outcome InterfaceLock::Take(const std::string& interfaceName,
                                           const std::string& program, std::string& detail) {
  Release();
  if (!host::MakeDirectories(directory_)) {
    detail = directory_ + ": " + SystemMessage(GetLastError());
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
    detail = path + ": " + SystemMessage(GetLastError());
    return Outcome::kUnavailable;
  }
  OVERLAPPED at{};
  at.Offset = kLockOffset;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD err = GetLastError();
    if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) {
      detail = DescribeHolder(file);
      CloseHandle(file);
      return Outcome::kHeld;
    }
    detail = path + ": " + SystemMessage(err);
    CloseHandle(file);
    return Outcome::kUnavailable;
  }
  const std::string record = std::to_string(host::ProcessId()) + " " + program + " " + Now() + "\n";
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
