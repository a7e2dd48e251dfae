#include "common/format.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace kova {

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  // Most messages fit here: one pass over the format and no allocation
  // beyond the string's own.
  char shortText[256];
  const int needed = std::vsnprintf(shortText, sizeof shortText, fmt, copy);
  va_end(copy);
  std::string out;
  if (needed > 0 && static_cast<size_t>(needed) < sizeof shortText) {
    out.assign(shortText, static_cast<size_t>(needed));
  } else if (needed > 0) {
    std::vector<char> buf(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return out;
}

}  // namespace kova
