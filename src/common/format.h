#pragma once

#include <string>

namespace kova {

// printf-style formatting into a std::string; the system's messages are all
// composed this way so that their format strings stay exactly as written.
std::string Format(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));

}  // namespace kova
