#include "frontend/interface_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kova {

namespace {

std::string NetworkNamespaceId() {
  struct stat st {};
  if (stat("/proc/self/ns/net", &st) != 0) {
    return "0";
  }
  return std::to_string(static_cast<unsigned long long>(st.st_ino));
}

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
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// The holder's record: "PID PROGRAM DATE TIME".
std::string DescribeHolder(int fd) {
  char buffer[256];
  const ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
  if (n <= 0) {
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

}  // namespace

InterfaceLock::InterfaceLock(std::string directory) : directory_(std::move(directory)) {
  if (directory_.empty()) {
    const char* env = std::getenv("KOVA_LOCK_DIR");
    struct stat st {};
    if (env != nullptr && *env != '\0') {
      directory_ = env;
    } else if (stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode)) {
      directory_ = "/run/lock";
    } else {
      // A system without /run/lock (a bare container) still has /tmp.
      directory_ = "/tmp";
    }
  }
}

InterfaceLock::~InterfaceLock() {
  Release();
}

std::string InterfaceLock::PathFor(const std::string& interfaceName) const {
  return directory_ + "/kova-upgrade." + NetworkNamespaceId() + "." + SafeName(interfaceName) +
         ".lock";
}

InterfaceLock::Outcome InterfaceLock::Take(const std::string& interfaceName,
                                           const std::string& program, std::string& detail) {
  Release();
  const std::string path = PathFor(interfaceName);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd >= 0) {
    // Whoever comes next, under any user, must be able to open it too.
    fchmod(fd, 0666);
  } else {
    // A file another user made may still be opened for reading, which is
    // all flock needs.
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  if (fd < 0) {
    detail = path + ": " + std::strerror(errno);
    return Outcome::kUnavailable;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK) {
      detail = DescribeHolder(fd);
      close(fd);
      return Outcome::kHeld;
    }
    detail = path + ": " + std::strerror(err);
    close(fd);
    return Outcome::kUnavailable;
  }
  const std::string record =
      std::to_string(static_cast<long>(getpid())) + " " + program + " " + Now() + "\n";
  if (ftruncate(fd, 0) == 0) {
    const ssize_t written = pwrite(fd, record.data(), record.size(), 0);
    (void)written;  // the holder's record is a courtesy; the flock is the lock
  }
  lock_ = fd;
  return Outcome::kTaken;
}

void InterfaceLock::Release() {
  if (lock_ < 0) {
    return;
  }
  const int fd = static_cast<int>(lock_);
  if (ftruncate(fd, 0) != 0) {
    // Left as it was: the next holder rewrites it.
  }
  close(fd);
  lock_ = -1;
}

}  // namespace kova
