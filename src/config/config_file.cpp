#include "config/config_file.h"

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

// Loads the images that run steps 3, 4 and 5 ask for; higher steps add none.
int LoadStepImages(const std::string& directory, const ConfigLines& lines, int run_step,
                   SharedBuffers& buf) {
  int ok = 1;
  for (int step = 3; step <= run_step && step <= 5; ++step) {
    int loaded = 0;
    if (step == 3) {
      loaded = LoadImageFile(JoinConfigPath(directory, lines.text[kAppNameLine]),
                             buf.AppImage.get(), SharedBuffers::kAppImageSize, buf.AppImageLen);
    } else if (step == 4) {
      loaded = LoadImageFile(JoinConfigPath(directory, lines.text[kBlNameLine]), buf.BlImage.get(),
                             SharedBuffers::kBlImageSize, buf.BlImageLen);
    } else {
      loaded = LoadImageFile(JoinConfigPath(directory, lines.text[kUpBlNameLine]),
                             buf.UpBlImage.get(), SharedBuffers::kUpBlImageSize, buf.UpBlImageLen);
    }
    if (loaded != 1) {
      ok = 0;  // the remaining images are still loaded
    }
  }
  return ok;
}

}  // namespace

int Load_UpgradeFile(const std::string& directory, MessageLog& log, SharedBuffers& buf,
                     int32_t& run_jumptobootloade_flag) {
  log.Say(1, "\n======Load upgarde file ... ");

  int iRet = 0;
  int run_step = 0;
  ConfigLines lines;
  const RawReadStatus status =
      ReadRawFile(JoinConfigPath(directory, kConfigFileName), buf.ConfigText.get(),
                  SharedBuffers::kConfigTextSize, buf.ConfigTextLen);
  if (status != RawReadStatus::kOpenFailed) {
    lines = ScanConfigLines(buf.ConfigText.get(), buf.ConfigTextLen);
  }
  if (lines.complete && lines.text[kStartLine] == "[KOVA_CFG_START]" &&
      lines.text[kEndLine] == "[KOVA_CFG_END]") {
    iRet = ParseRunStep(lines.text[kRunStepLine], run_step) ? 1 : 0;
    if (!ParseJumpSetting(lines.text[kJumpLine], run_jumptobootloade_flag)) {
      iRet = 0;
    }
    if (run_step > 2 && LoadStepImages(directory, lines, run_step, buf) != 1) {
      iRet = 0;
    }
  }

  log.Say(1, iRet == 1 ? "Successful !======" : "Failed !======");

  for (int line = 0; line < kConfigLineCount; ++line) {
    log.Say(0, Format(kTraceFormats[line], lines.count[line], lines.text[line].c_str()));
  }
  log.Say(0,
          Format("\n iRet=%d, run_step=%d, search_line=%d !", iRet, run_step, lines.search_line));
  log.Say(0, Format("\n run_jumptobootloade_flag=%d !", run_jumptobootloade_flag));
  return iRet;
}

}  // namespace kova
