#pragma once

#include <cstdint>
#include <string>

namespace kova {

enum class RawReadStatus { kOk, kOpenFailed, kTooLarge, kReadFailed };

// What the loader may do with a file larger than its buffer.
enum class Oversize { kCut, kRefuse };

// The outcome of one file read, with what the operator needs to know why.
struct RawRead {
  RawReadStatus status = RawReadStatus::kOk;
  int error = 0;            // errno of the failed open or read
  bool notRegular = false;  // opened, but a directory, FIFO, device or socket
  int64_t size = 0;         // the file's size once opened
};

// Reads at most `capacity` bytes of the regular file at `path` into `dest` and
// sets `count` to the bytes read. Anything but a regular file (a symbolic link
// to one is fine) counts as a file that cannot be opened. A read error after
// the open sets `count` to 0; an open failure, or a file larger than
// `capacity` under Oversize::kRefuse, leaves `dest` and `count` untouched.
// Either way `dest` may not be trusted beyond `count`.
RawRead ReadRawFile(const std::string& path, uint8_t* dest, int32_t capacity, int32_t& count,
                    Oversize oversize = Oversize::kCut);

// Why a read did not take the whole file, in the operator's words ("no such
// file", "permission denied", "not a regular file", "too large: ..."); empty
// when it did.
std::string RawReadReason(const RawRead& read, int32_t capacity);

// `name` as found from `directory`: absolute names and an empty directory
// leave it as it is.
std::string JoinConfigPath(const std::string& directory, const std::string& name);

}  // namespace kova
