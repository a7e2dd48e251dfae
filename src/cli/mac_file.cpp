#include "cli/mac_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/host_files.h"

namespace kova::cli {

namespace {

// "1 MiB", "512 bytes".
std::string SizeText(size_t bytes) {
  return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                : std::to_string(bytes) + " bytes";
}

// "30 s", "0.2 s".
std::string SecondsText(std::chrono::milliseconds time) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000);
  return text;
}

// "cannot read the MAC file: macs.txt: No such file or directory".
std::string CannotRead(const std::string& file, int err) {
  return "cannot read the MAC file: " + file + ": " + std::strerror(err);
}

}  // namespace

bool ReadMacFile(const std::string& file, std::string& text, std::string& error,
                 const MacFileBounds& bounds) {
  const auto deadline = std::chrono::steady_clock::now() + bounds.time;
  const int fd = host::OpenForReading(file);
  if (fd < 0) {
    const int err = errno;
    error = (err != ENOENT && host::IsOtherThanRegularFile(file))
                ? "the MAC file is neither a regular file nor a pipe: " + file
                : CannotRead(file, err);
    return false;
  }
  bool ok = host::KindOf(fd) != host::FileKind::kOther;
  if (ok) {
    // One byte past the bound tells a file at the bound from a larger one.
    text.assign(bounds.bytes + 1, '\0');
  } else {
    error = "the MAC file is neither a regular file nor a pipe: " + file;
  }
  size_t size = 0;
  while (ok && size < text.size()) {
    const long n = host::ReadBefore(fd, &text[size], text.size() - size, deadline);
    if (n == 0) {
      break;
    }
    if (n < 0) {
      ok = false;
      error = errno == ETIMEDOUT
                  ? "the MAC file did not end within " + SecondsText(bounds.time) + ": " + file
                  : CannotRead(file, errno);
    } else {
      size += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  text.resize(ok ? size : 0);
  if (ok && size > bounds.bytes) {
    ok = false;
    error = "the MAC file is larger than " + SizeText(bounds.bytes) + ": " + file;
    text.clear();
  }
  return ok;
}

}  // namespace kova::cli
