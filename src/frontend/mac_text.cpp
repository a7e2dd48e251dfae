#include "frontend/mac_text.h"

#include <cctype>

namespace kova {

namespace {

bool AllHexPairs(const std::array<std::string, 6>& fields) {
  for (const std::string& field : fields) {
    if (field.size() != 2 || !std::isxdigit(static_cast<unsigned char>(field[0])) ||
        !std::isxdigit(static_cast<unsigned char>(field[1]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool SplitMac(const std::string& text, std::array<std::string, 6>& fields) {
  if (text.size() == 12) {
    for (int i = 0; i < 6; ++i) {
      fields[i] = text.substr(i * 2, 2);
    }
    return AllHexPairs(fields);
  }
  if (text.size() != 17) {
    return false;
  }
  const char sep = text[2];
  if (sep != ':' && sep != '-') {
    return false;
  }
  for (int i = 0; i < 6; ++i) {
    if (i < 5 && text[i * 3 + 2] != sep) {
      return false;
    }
    fields[i] = text.substr(i * 3, 2);
  }
  return AllHexPairs(fields);
}

}  // namespace kova
