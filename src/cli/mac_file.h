#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace kova::cli {

// How much of a MAC file is read (far more than a line of boards needs; a
// pipe from `yes` would otherwise fill the memory), and how long a pipe's
// writer is waited for.
struct MacFileBounds {
  size_t bytes = 1 << 20;
  std::chrono::milliseconds time{30000};
};

// Reads the whole of `file`: a regular file, or a pipe (`--mac-file
// <(...)`, /dev/stdin, a FIFO) that must end within the bounds. Nothing
// else is read: a terminal or a device may never end. False with `error` a
// usage error naming the file.
bool ReadMacFile(const std::string& file, std::string& text, std::string& error,
                 const MacFileBounds& bounds = {});

}  // namespace kova::cli
