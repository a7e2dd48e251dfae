#pragma once

#include <array>
#include <string>

namespace kova {

// Splits 00:1A:2B:3C:4D:5E, 00-1A-2B-3C-4D-5E or 001A2B3C4D5E into its six
// two-digit hexadecimal fields; false for anything else.
bool SplitMac(const std::string& text, std::array<std::string, 6>& fields);

}  // namespace kova
