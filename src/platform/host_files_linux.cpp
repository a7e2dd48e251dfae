#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/host_files.h"

namespace kova::host {

int OpenForReading(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

int OpenForAppending(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
}

FileKind KindOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    return FileKind::kOther;
  }
  if (S_ISREG(st.st_mode)) {
    return FileKind::kRegular;
  }
  return S_ISFIFO(st.st_mode) ? FileKind::kPipe : FileKind::kOther;
}

long ReadBefore(int fd, char* buffer, size_t size, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    // Waited for first: a FIFO that no writer has opened yet reads as ended.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (polled < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (polled == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0) {
      return static_cast<long>(n);
    }
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return -1;
    }
  }
}

void WriteWithoutWaiting(int fd, const std::string& text) {
  // A pipe has room once a page is free, which takes a short text whole.
  pollfd room{fd, POLLOUT, 0};
  if (::poll(&room, 1, 0) == 1 && (room.revents & POLLOUT) != 0) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    static_cast<void>(n);
  }
}

bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      return true;
    }
  }
}

std::vector<DirectoryFile> RegularFiles(const std::string& directory) {
  std::vector<DirectoryFile> files;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    return files;
  }
  while (const dirent* entry = readdir(dir)) {
    struct stat st {};
    const std::string name = entry->d_name;
    if (::stat((directory + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      files.push_back({name, static_cast<uint64_t>(st.st_size)});
    }
  }
  closedir(dir);
  return files;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsOtherThanRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool IsAbsolutePath(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

bool IsPathSeparator(char c) {
  return c == '/';
}

std::string UserStateDirectory(const std::string& program) {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && *state == '/') {
    return std::string(state) + "/" + program;
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    return std::string(home) + "/.local/state/" + program;
  }
  return "";
}

std::string UserStateDirectoryShown(const std::string& program) {
  return "$XDG_STATE_HOME/" + program + "/";
}

std::string UserStateDirectoryRule() {
  return "neither XDG_STATE_HOME nor HOME is set";
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

bool IsTerminal(int fd) {
  return isatty(fd) == 1;
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

long ProcessId() {
  return static_cast<long>(getpid());
}

}  // namespace kova::host
