#include "frontend/interface_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "frontend/lock_holder.h"

namespace kova {

namespace {

std::string NetworkNamespaceId() {
  struct stat st {};
  if (stat("/proc/self/ns/net", &st) != 0) {
    return "0";
  }
  return std::to_string(static_cast<unsigned long long>(st.st_ino));
}

// The holder's record, read without waiting for the lock.
std::string Holder(int fd) {
  char buffer[256];
  const ssize_t n = pread(fd, buffer, sizeof buffer, 0);
  return DescribeHolder(buffer, n > 0 ? static_cast<size_t>(n) : 0);
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
  return directory_ + "/kova-upgrade." + NetworkNamespaceId() + "." +
         LockFileSafeName(interfaceName) + ".lock";
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
      detail = Holder(fd);
      close(fd);
      return Outcome::kHeld;
    }
    detail = path + ": " + std::strerror(err);
    close(fd);
    return Outcome::kUnavailable;
  }
  const std::string record = HolderRecord(program);
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
