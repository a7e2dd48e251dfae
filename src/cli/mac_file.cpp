#include "cli/mac_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

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
std::string CannotRead(const std::string& what, const std::string& file, int err) {
  return "cannot read the " + what + ": " + file + ": " + std::strerror(err);
}

}  // namespace

bool ReadMacFile(const std::string& file, std::string& text, std::string& error,
                 const MacFileBounds& bounds) {
  return ReadListFile(file, "MAC file", text, error, bounds);
}

bool ReadListFile(const std::string& file, const std::string& what, std::string& text,
                  std::string& error, const MacFileBounds& bounds) {
  const auto deadline = std::chrono::steady_clock::now() + bounds.time;
  const int fd = host::OpenForReading(file);
  if (fd < 0) {
    const int err = errno;
    error = (err != ENOENT && host::IsOtherThanRegularFile(file))
                ? "the " + what + " is neither a regular file nor a pipe: " + file
                : CannotRead(what, file, err);
    return false;
  }
  bool ok = host::KindOf(fd) != host::FileKind::kOther;
  if (ok) {
    // One byte past the bound tells a file at the bound from a larger one.
    text.assign(bounds.bytes + 1, '\0');
  } else {
    error = "the " + what + " is neither a regular file nor a pipe: " + file;
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
                  ? "the " + what + " did not end within " + SecondsText(bounds.time) + ": " + file
                  : CannotRead(what, file, errno);
    } else {
      size += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  text.resize(ok ? size : 0);
  if (ok && size > bounds.bytes) {
    ok = false;
    error = "the " + what + " is larger than " + SizeText(bounds.bytes) + ": " + file;
    text.clear();
  }
  return ok;
}

std::vector<ListLine> ListLines(const std::string& text) {
  std::vector<ListLine> out;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) {
      line.erase(hash);
    }
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
      continue;
    }
    const size_t last = line.find_last_not_of(" \t\r");
    out.push_back({number, line.substr(first, last - first + 1)});
  }
  return out;
}

}  // namespace kova::cli
