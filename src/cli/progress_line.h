#pragma once

#include <cstdint>
#include <string>

namespace kova::cli {

// The progress bar on a terminal:
//   program      42% [############..................] 212.0/504.0 KiB  35.3 KiB/s
// Bytes and rate only where the phase sends `totalBytes` (else 0); the
// rate is taken over the `seconds` since the phase began.
std::string ProgressLine(const std::string& phase, int percent, uint64_t totalBytes,
                         double seconds);

// 512 B, 3.5 KiB, 1.2 MiB.
std::string ByteCount(double bytes);

}  // namespace kova::cli
