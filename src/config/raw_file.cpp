#include "config/raw_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "common/format.h"
#include "platform/host_files.h"

namespace kova {

namespace {

std::string ErrorText(int error) {
  switch (error) {
    case ENOENT:
      return "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    default: {
      // In the same lower case as the texts above.
      std::string text = std::strerror(error);
      if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
      }
      return text;
    }
  }
}

}  // namespace

RawRead ReadRawFile(const std::string& path, uint8_t* dest, int32_t capacity, int32_t& count,
                    Oversize oversize) {
  RawRead result;
  const int fd = host::OpenForReading(path);
  if (fd < 0) {
    result.status = RawReadStatus::kOpenFailed;
    result.error = errno;
    // A socket cannot be opened at all, nor a directory on Windows; either
    // is as much not a file as a FIFO.
    if (result.error != ENOENT && host::IsOtherThanRegularFile(path)) {
      result.notRegular = true;
    }
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    result.error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    result.notRegular = true;
  }
  if (result.error != 0 || result.notRegular) {
    result.status = RawReadStatus::kOpenFailed;
    ::close(fd);
    return result;
  }
  result.size = st.st_size;
  if (oversize == Oversize::kRefuse && result.size > capacity) {
    result.status = RawReadStatus::kTooLarge;
    ::close(fd);
    return result;
  }
  // A single read may return short, so keep reading until full or at EOF.
  int32_t total = 0;
  while (total < capacity) {
    const auto got = ::read(fd, dest + total, static_cast<unsigned>(capacity - total));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      result.status = RawReadStatus::kReadFailed;
      result.error = errno;
      break;
    }
    if (got == 0) {
      break;
    }
    total += static_cast<int32_t>(got);
  }
  ::close(fd);
  count = result.status == RawReadStatus::kOk ? total : 0;
  return result;
}

std::string RawReadReason(const RawRead& read, int32_t capacity) {
  switch (read.status) {
    case RawReadStatus::kOk:
      return "";
    case RawReadStatus::kOpenFailed:
      return read.notRegular ? "not a regular file" : ErrorText(read.error);
    case RawReadStatus::kTooLarge:
      return Format("too large: %lld bytes, the limit is %d", static_cast<long long>(read.size),
                    capacity);
    case RawReadStatus::kReadFailed:
      return "read failed: " + ErrorText(read.error);
  }
  return "";
}

std::string JoinConfigPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || host::IsAbsolutePath(name)) {
    return name;
  }
  if (host::IsPathSeparator(directory.back())) {
    return directory + name;
  }
  return directory + "/" + name;
}

}  // namespace kova
