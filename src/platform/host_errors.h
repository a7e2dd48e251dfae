#pragma once

// The host's error numbers for the conditions the engine tells apart. The
// platform layer passes on what the host reported (errno values on Linux,
// Windows error codes on Windows), so that the operator sees the host's own
// number; only these few are given a meaning here. This header is the one
// place where the two systems differ in a value.

#ifdef _WIN32
namespace kova::host_error {
constexpr int kExists = 5010;         // ERROR_OBJECT_ALREADY_EXISTS
constexpr int kDenied = 5;            // ERROR_ACCESS_DENIED
constexpr int kNotPermitted = 5;      // Windows has one code for both
constexpr int kNoEntry = 1168;        // ERROR_NOT_FOUND
constexpr int kNoInterface = 1167;    // ERROR_DEVICE_NOT_CONNECTED
constexpr int kUnreachable = 1231;    // ERROR_NETWORK_UNREACHABLE
constexpr int kNoMemory = 8;          // ERROR_NOT_ENOUGH_MEMORY
constexpr int kAddressInUse = 10048;  // WSAEADDRINUSE
constexpr int kSocketDenied = 10013;  // WSAEACCES
}  // namespace kova::host_error
#else
#include <cerrno>
namespace kova::host_error {
constexpr int kExists = EEXIST;
constexpr int kDenied = EACCES;
constexpr int kNotPermitted = EPERM;
constexpr int kNoEntry = ENOENT;
constexpr int kNoInterface = ENODEV;
constexpr int kUnreachable = ENETUNREACH;
constexpr int kNoMemory = ENOMEM;
constexpr int kAddressInUse = EADDRINUSE;
constexpr int kSocketDenied = EACCES;
}  // namespace kova::host_error
#endif

namespace kova::host_error {
// Refused for want of privilege (Administrator, or a capability).
constexpr bool Denied(int err) {
  return err == kDenied || err == kNotPermitted || err == kSocketDenied;
}
}  // namespace kova::host_error
