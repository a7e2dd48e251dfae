#pragma once

#include <cstdint>
#include <string>

namespace kova::cli {

// `text` as a JSON string, quotes included. Bytes that are not UTF-8
// become U+FFFD, so that every line stays valid JSON whatever a board or
// a file name holds.
std::string JsonString(const std::string& text);

// One JSON object, built field by field in the order given.
class JsonLine {
 public:
  // An event object; without an event name, a plain object.
  explicit JsonLine(const char* event = nullptr) {
    if (event != nullptr) {
      Str("event", event);
    }
  }

  JsonLine& Str(const char* key, const std::string& value);
  JsonLine& Int(const char* key, long long value);
  // With three decimals: times in seconds.
  JsonLine& Seconds(const char* key, double value);
  JsonLine& Bool(const char* key, bool value);
  JsonLine& Null(const char* key);
  // `json` is already JSON (an array or object).
  JsonLine& Raw(const char* key, const std::string& json);

  // The object and a newline.
  std::string Text() const { return body_ + "}\n"; }

 private:
  JsonLine& Key(const char* key);

  std::string body_ = "{";
};

}  // namespace kova::cli
