#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/operator_panel.h"

namespace kova::fuzz {

// An invariant of the code under test. A broken one aborts, so that libFuzzer
// keeps the input as a crash.
inline void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Reads the fuzz input front to back; past its end every read gives 0.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool AtEnd() const { return at_ >= size_; }
  size_t Left() const { return AtEnd() ? 0 : size_ - at_; }

  uint8_t Byte() { return AtEnd() ? 0 : data_[at_++]; }

  // Up to `count` bytes, fewer at the end of the input.
  const uint8_t* Take(size_t count, size_t& got) {
    got = count < Left() ? count : Left();
    const uint8_t* start = data_ + at_;
    at_ += got;
    return start;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace kova::fuzz
