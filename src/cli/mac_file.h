#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

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

// The same for another list, its errors naming it as `what` ("station
// file").
bool ReadListFile(const std::string& file, const std::string& what, std::string& text,
                  std::string& error, const MacFileBounds& bounds = {});

// A line of a list that holds something, without its comment and the blanks
// around it, and its number in the file.
struct ListLine {
  int number = 0;
  std::string text;
};

// The lines of a MAC or station file: "#" starts a comment, blank lines are
// skipped.
std::vector<ListLine> ListLines(const std::string& text);

}  // namespace kova::cli
