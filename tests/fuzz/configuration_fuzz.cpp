// The configuration file reader on arbitrary file content: the parser on the
// bytes, checked against a plain reading of the format, and the whole load
// from a file in a directory of its own.

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/message_log.h"
#include "common/shared_buffers.h"
#include "config/config_file.h"
#include "config/config_lines.h"
#include "config/config_values.h"
#include "fuzz_support.h"

namespace kova::fuzz {
namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';

// The file's seven lines as the format describes them: each runs to its
// first CR, which an LF must follow (with anything between them dropped),
// and holds at most kConfigLineMax bytes.
struct ExpectedLines {
  bool complete = false;
  std::array<std::string, kConfigLineCount> raw;
};

ExpectedLines SplitAsDescribed(const std::string& file) {
  ExpectedLines out;
  size_t at = 0;
  for (int line = 0; line < kConfigLineCount; ++line) {
    const size_t cr = file.find(kCR, at);
    const size_t end = cr == std::string::npos ? file.size() : cr;
    if (end - at > static_cast<size_t>(kConfigLineMax)) {
      return out;
    }
    out.raw[line] = file.substr(at, end - at);
    const size_t lf = cr == std::string::npos ? std::string::npos : file.find(kLF, cr + 1);
    if (lf == std::string::npos) {
      return out;
    }
    at = lf + 1;
  }
  out.complete = true;
  return out;
}

// The code point of `s` when it is exactly one shortest-form UTF-8 sequence
// of a Unicode scalar value, else -1.
long SingleCodePoint(const std::string& s) {
  if (s.empty()) {
    return -1;
  }
  const auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
  size_t size = 1;
  long cp = byte(0);
  if (byte(0) >= 0xF0) {
    size = 4;
    cp = byte(0) & 0x07;
  } else if (byte(0) >= 0xE0) {
    size = 3;
    cp = byte(0) & 0x0F;
  } else if (byte(0) >= 0xC0) {
    size = 2;
    cp = byte(0) & 0x1F;
  } else if (byte(0) >= 0x80) {
    return -1;
  }
  if (s.size() != size || byte(0) >= 0xF8) {
    return -1;
  }
  for (size_t i = 1; i < size; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return -1;
    }
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  static const long kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kShortest[size] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return -1;
  }
  return cp;
}

void CheckRunStep(const std::string& line) {
  int step = -1;
  const bool valid = ParseRunStep(line, step);
  Require(valid == (SingleCodePoint(line) >= 0), "the run step is exactly one UTF-8 character");
  if (!valid) {
    Require(step == 0, "an invalid run step is 0");
    return;
  }
  const char c = line[0];
  int want = 255;
  if (c >= '0' && c <= '9') {
    want = c - '0';
  } else if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) {
    want = (c | 0x20) - 'a' + 10;
  }
  Require(step == want, "the run step is its hexadecimal digit, else 255");
}

void CheckJumpSetting(const std::string& line) {
  int32_t flag = -1;
  const bool valid = ParseJumpSetting(line, flag);
  const bool known = line == "ENABLE" || line == "DISABLE" || line == "REMOTE";
  Require(valid == known, "only ENABLE, DISABLE and REMOTE are settings");
  Require(flag == (line == "ENABLE"   ? 0
                   : line == "REMOTE" ? 4
                                      : 3),
          "the setting's flag, 3 for anything unknown");
}

// `data` is the fuzzer's own copy, exactly `size` bytes: a read past the
// file's end is caught.
ConfigFileContent CheckParse(const uint8_t* data, size_t size) {
  const ConfigFileContent content = ParseConfigFile(data, static_cast<int32_t>(size));
  const std::string file(reinterpret_cast<const char*>(data), size);
  const ConfigLines& lines = content.lines;
  const ExpectedLines expected = SplitAsDescribed(file);
  Require(lines.complete == expected.complete, "a file is complete exactly when the format says");
  Require(lines.search_line >= 0 && lines.search_line <= kConfigLineCount,
          "no more than seven lines are counted");
  Require(lines.complete == (lines.search_line == kConfigLineCount),
          "a complete file has seven lines");
  for (int line = 0; line < kConfigLineCount; ++line) {
    Require(lines.count[line] >= 0 && lines.count[line] <= kConfigLineMax,
            "a line fits its 128-byte field");
    Require(lines.text[line].size() <= static_cast<size_t>(lines.count[line]),
            "a line's text is no longer than the bytes collected");
    Require(lines.text[line].find('\0') == std::string::npos &&
                lines.text[line].find(kCR) == std::string::npos,
            "a line's text holds no NUL and no CR");
    if (line > lines.search_line) {
      Require(lines.count[line] == 0, "nothing is collected past the line being read");
    }
    if (lines.complete) {
      Require(lines.count[line] == static_cast<int>(expected.raw[line].size()) &&
                  lines.text[line] == expected.raw[line].c_str(),
              "each line is the bytes before its CR, up to a NUL");
    }
  }
  const bool framed = lines.complete && lines.text[0] == "[KOVA_CFG_START]" &&
                      lines.text[kConfigLineCount - 1] == "[KOVA_CFG_END]";
  Require(content.framed == framed, "values are read only between the two markers");
  if (framed) {
    CheckRunStep(lines.text[1]);
    CheckJumpSetting(lines.text[2]);
  } else {
    Require(!content.runStepValid && !content.jumpValid && content.run_step == 0,
            "an unframed file has no values");
  }
  return content;
}

// A directory of its own holding the file and three small images.
class LoadDirectory {
 public:
  // In memory where there is a tmpfs: rewriting a file on disk a million
  // times would wait on the disk.
  LoadDirectory() {
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    pattern += "/kova-fuzz-config-XXXXXX";
    Require(::mkdtemp(pattern.data()) != nullptr, "a temporary directory");
    path_ = pattern;
    for (const char* image : {"app.bin", "bl.bin", "upbl.bin"}) {
      std::ofstream(path_ + "/" + image, std::ios::binary) << std::string(300, '\x5A');
    }
    buf_.AllocSharedBuffers();
  }
  ~LoadDirectory() { std::filesystem::remove_all(path_); }

  // Loads `file` as KOVA_Config.cfg and checks the outcome against what its
  // content asks for.
  void CheckLoad(const std::string& file, const ConfigFileContent& content) {
    const ConfigLines& lines = content.lines;
    // Names reaching out of the directory would read whatever the host holds.
    for (int line = 3; line <= 5; ++line) {
      if (lines.text[line].find('/') != std::string::npos) {
        return;
      }
    }
    {
      std::ofstream out(path_ + "/KOVA_Config.cfg", std::ios::binary | std::ios::trunc);
      out.write(file.data(), static_cast<std::streamsize>(file.size()));
      Require(out.good(), "the configuration file is written");
    }
    constexpr int32_t kUntouched = 77;
    int32_t flag = kUntouched;
    const int result = Load_UpgradeFile(path_, log_, buf_, flag);
    Require(buf_.ConfigTextLen == static_cast<int32_t>(file.size()), "the whole file is read");

    bool imagesFound = true;
    for (int step = 3; step <= content.run_step && step <= 5; ++step) {
      const std::string& name = lines.text[step];
      imagesFound = imagesFound && (name == "app.bin" || name == "bl.bin" || name == "upbl.bin" ||
                                    name == "KOVA_Config.cfg");
    }
    const bool valid = content.framed && content.runStepValid && content.jumpValid;
    Require(result == ((valid && imagesFound) ? 1 : 0),
            "the load succeeds exactly when the file is valid and its images are read");
    Require(flag == (content.framed ? content.jumpFlag : kUntouched),
            "the jump flag is set only from a framed file");
  }

 private:
  std::string path_;
  SilentPanel panel_;
  MessageLog log_{panel_};
  SharedBuffers buf_;
};

}  // namespace
}  // namespace kova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kova::fuzz::LoadDirectory directory;
  const std::string file(reinterpret_cast<const char*>(data), size);
  // The value parsers see the whole input as one line as well: a line of a
  // framed file is far harder for the fuzzer to reach.
  kova::fuzz::CheckRunStep(file);
  kova::fuzz::CheckJumpSetting(file);
  const kova::ConfigFileContent content = kova::fuzz::CheckParse(data, size);
  directory.CheckLoad(file, content);
  return 0;
}
