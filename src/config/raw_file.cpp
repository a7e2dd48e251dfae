#include "config/raw_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kova {

RawReadStatus ReadRawFile(const std::string& path, uint8_t* dest, int32_t capacity,
                          int32_t& count) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return RawReadStatus::kOpenFailed;
  }
  // A single read may return short, so keep reading until full or at EOF.
  int32_t total = 0;
  bool failed = false;
  while (total < capacity) {
    const ssize_t got = ::read(fd, dest + total, static_cast<size_t>(capacity - total));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      failed = true;
      break;
    }
    if (got == 0) {
      break;
    }
    total += static_cast<int32_t>(got);
  }
  ::close(fd);
  count = failed ? 0 : total;
  return failed ? RawReadStatus::kReadFailed : RawReadStatus::kOk;
}

std::string JoinConfigPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || (!name.empty() && name[0] == '/')) {
    return name;
  }
  if (directory.back() == '/') {
    return directory + name;
  }
  return directory + "/" + name;
}

}  // namespace kova
