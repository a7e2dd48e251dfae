#include "cli/json_line.h"

#include <cstdio>

namespace kova::cli {

namespace {

// The length of the UTF-8 sequence at `i`, or 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  size_t length = 0;
  uint32_t least = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    least = 0x10000;
  } else {
    return 0;
  }
  if (i + length > s.size()) {
    return 0;
  }
  uint32_t code = c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

JsonLine& JsonLine::Key(const char* key) {
  if (body_.size() > 1) {
    body_ += ',';
  }
  body_ += JsonString(key) + ":";
  return *this;
}

JsonLine& JsonLine::Str(const char* key, const std::string& value) {
  Key(key).body_ += JsonString(value);
  return *this;
}

JsonLine& JsonLine::Int(const char* key, long long value) {
  Key(key).body_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Seconds(const char* key, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value < 0 ? 0.0 : value);
  Key(key).body_ += text;
  return *this;
}

JsonLine& JsonLine::Bool(const char* key, bool value) {
  Key(key).body_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Null(const char* key) {
  Key(key).body_ += "null";
  return *this;
}

JsonLine& JsonLine::Raw(const char* key, const std::string& json) {
  Key(key).body_ += json;
  return *this;
}

}  // namespace kova::cli
