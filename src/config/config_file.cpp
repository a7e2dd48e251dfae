#include "config/config_file.h"

#include <vector>

#include "common/format.h"
#include "common/message_log.h"
#include "common/shared_buffers.h"
#include "config/config_lines.h"
#include "config/config_values.h"
#include "config/image_file.h"
#include "config/raw_file.h"

namespace kova {

namespace {

constexpr const char* kConfigFileName = "KOVA_Config.cfg";

// Line indices of the seven-line file.
constexpr int kStartLine = 0;
constexpr int kRunStepLine = 1;
constexpr int kJumpLine = 2;
constexpr int kAppNameLine = 3;
constexpr int kBlNameLine = 4;
constexpr int kUpBlNameLine = 5;
constexpr int kEndLine = 6;

constexpr const char* kTraceFormats[kConfigLineCount] = {
    "\n file_start_wxstr(%d)=%s !",     "\n runstep_wxstr(%d)=%s !",
    "\n jumpbootloader_wxstr(%d)=%s !", "\n apfilename_wxstr(%d)=%s !",
    "\n blfilename_wxstr(%d)=%s !",     "\n upblfilename_wxstr(%d)=%s !",
    "\n file_end_wxstr(%d)=%s !",
};

// A file that did not load, or loaded only in part, and why.
struct FileNote {
  std::string path;
  std::string text;
  bool failed;  // a failure the front end reports; else only traced
};

// An image as it was loaded into its buffer.
struct LoadedImage {
  std::string path;
  const uint8_t* data;
  int32_t len;
};

// Loads the images that run steps 3, 4 and 5 ask for; higher steps add none.
// The application image is sent to the board, so one that does not fit its
// buffer is refused rather than cut; the two bootloader images are sent
// nowhere and are cut to their buffers.
int LoadStepImages(const std::string& directory, const ConfigLines& lines, int run_step,
                   SharedBuffers& buf, std::vector<FileNote>& notes,
                   std::vector<LoadedImage>& loaded) {
  int ok = 1;
  for (int step = 3; step <= run_step && step <= 5; ++step) {
    int line = kAppNameLine;
    uint8_t* image = buf.AppImage.get();
    int32_t capacity = SharedBuffers::kAppImageSize;
    int32_t* len = &buf.AppImageLen;
    Oversize oversize = Oversize::kRefuse;
    if (step == 4) {
      line = kBlNameLine;
      image = buf.BlImage.get();
      capacity = SharedBuffers::kBlImageSize;
      len = &buf.BlImageLen;
      oversize = Oversize::kCut;
    } else if (step == 5) {
      line = kUpBlNameLine;
      image = buf.UpBlImage.get();
      capacity = SharedBuffers::kUpBlImageSize;
      len = &buf.UpBlImageLen;
      oversize = Oversize::kCut;
    }
    const std::string path = JoinConfigPath(directory, lines.text[line]);
    const RawRead read = LoadImageFile(path, image, capacity, *len, oversize);
    if (read.status != RawReadStatus::kOk) {
      ok = 0;  // the remaining images are still loaded
      notes.push_back({path, RawReadReason(read, capacity), true});
      continue;
    }
    loaded.push_back({path, image, *len});
    if (read.size > capacity) {
      notes.push_back(
          {path,
           Format("cut to its first %d of %lld bytes", capacity, static_cast<long long>(read.size)),
           false});
    }
  }
  return ok;
}

}  // namespace

ConfigFileContent ParseConfigFile(const uint8_t* data, int32_t len) {
  ConfigFileContent content;
  content.lines = ScanConfigLines(data, len);
  const ConfigLines& lines = content.lines;
  content.framed = lines.complete && lines.text[kStartLine] == "[KOVA_CFG_START]" &&
                   lines.text[kEndLine] == "[KOVA_CFG_END]";
  if (content.framed) {
    content.runStepValid = ParseRunStep(lines.text[kRunStepLine], content.run_step);
    content.jumpValid = ParseJumpSetting(lines.text[kJumpLine], content.jumpFlag);
  }
  return content;
}

bool ReadJumpSetting(const std::string& directory, int32_t& flag) {
  std::vector<uint8_t> text(SharedBuffers::kConfigTextSize);
  int32_t length = 0;
  const RawRead read = ReadRawFile(JoinConfigPath(directory, kConfigFileName), text.data(),
                                   SharedBuffers::kConfigTextSize, length);
  if (read.status != RawReadStatus::kOk) {
    return false;
  }
  const ConfigFileContent content = ParseConfigFile(text.data(), length);
  if (!content.framed || !content.jumpValid) {
    return false;
  }
  flag = content.jumpFlag;
  return true;
}

int Load_UpgradeFile(const std::string& directory, MessageLog& log, SharedBuffers& buf,
                     int32_t& run_jumptobootloade_flag) {
  log.Say(1, "\n======Load upgarde file ... ");

  int iRet = 0;
  ConfigFileContent content;
  std::vector<FileNote> notes;
  std::vector<LoadedImage> loaded;
  const std::string configPath = JoinConfigPath(directory, kConfigFileName);
  const RawRead read = ReadRawFile(configPath, buf.ConfigText.get(), SharedBuffers::kConfigTextSize,
                                   buf.ConfigTextLen);
  if (read.status != RawReadStatus::kOk) {
    notes.push_back({configPath, RawReadReason(read, SharedBuffers::kConfigTextSize), true});
  }
  if (read.status != RawReadStatus::kOpenFailed) {
    content = ParseConfigFile(buf.ConfigText.get(), buf.ConfigTextLen);
  }
  const ConfigLines& lines = content.lines;
  const int run_step = content.run_step;
  if (content.framed) {
    iRet = content.runStepValid && content.jumpValid ? 1 : 0;
    run_jumptobootloade_flag = content.jumpFlag;
    if (run_step > 2 && LoadStepImages(directory, lines, run_step, buf, notes, loaded) != 1) {
      iRet = 0;
    }
  }

  log.Say(1, iRet == 1 ? "Successful !======" : "Failed !======");

  for (const LoadedImage& image : loaded) {
    if (!log.Barred()) {
      log.Panel().ImageLoaded(image.path, image.data, static_cast<size_t>(image.len));
    }
  }

  for (const FileNote& note : notes) {
    log.Say(0, Format("\n %s: %s !", note.path.c_str(), note.text.c_str()));
    if (note.failed && !log.Barred()) {
      log.Panel().ReportFileProblem(note.path, note.text);
    }
  }

  for (int line = 0; line < kConfigLineCount; ++line) {
    log.Say(0, Format(kTraceFormats[line], lines.count[line], lines.text[line].c_str()));
  }
  log.Say(0,
          Format("\n iRet=%d, run_step=%d, search_line=%d !", iRet, run_step, lines.search_line));
  log.Say(0, Format("\n run_jumptobootloade_flag=%d !", run_jumptobootloade_flag));
  return iRet;
}

}  // namespace kova
