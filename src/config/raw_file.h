#pragma once

#include <cstdint>
#include <string>

namespace kova {

enum class RawReadStatus { kOk, kOpenFailed, kReadFailed };

// Reads at most `capacity` bytes of the file at `path` into `dest` and sets
// `count` to the bytes read. A read error after the open sets `count` to 0;
// an open failure leaves it untouched. Either way `dest` may not be trusted
// beyond `count`.
RawReadStatus ReadRawFile(const std::string& path, uint8_t* dest, int32_t capacity, int32_t& count);

// `name` as found from `directory`: absolute names and an empty directory
// leave it as it is.
std::string JoinConfigPath(const std::string& directory, const std::string& name);

}  // namespace kova
