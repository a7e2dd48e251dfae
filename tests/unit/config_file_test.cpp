#include "config/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "common/message_log.h"
#include "common/shared_buffers.h"
#include "config/raw_file.h"
#include "file_nodes.h"
#include "platform/host_files.h"
#include "recording_panel.h"
#include "temp_dir.h"

namespace kova {
namespace {

namespace fs = std::filesystem;

const char kStart[] = "\n======Load upgarde file ... ";
const char kOk[] = "Successful !======";
const char kFail[] = "Failed !======";

std::string Bytes(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed) * 13) & 0xFF);
  }
  return s;
}

const std::string kApp = Bytes(1000, 1);
const std::string kBl = Bytes(500, 2);
const std::string kUpBl = Bytes(600, 3);
const std::string kHuge = Bytes(2000000, 4);
const std::string kName127(127, 'n');

std::string Cfg(const std::string& step, const std::string& jump,
                const std::string& app = "app.bin", const std::string& start = "[KOVA_CFG_START]",
                const std::string& eol = "\r\n") {
  return start + eol + step + eol + jump + eol + app + eol + "bl.bin" + eol + "upbl.bin" + eol +
         "[KOVA_CFG_END]" + eol;
}

using Files = std::vector<std::pair<std::string, std::string>>;
const Files kStd = {{"app.bin", kApp}, {"bl.bin", kBl}, {"upbl.bin", kUpBl}};

class TempDir {
 public:
  const std::string& path() const { return dir_.path(); }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(path() + "/" + name, std::ios::binary) << content;
  }

 private:
  test::TempDir dir_{"kova-cfg-"};
};

std::string InDir(std::string text, const std::string& dir) {
  const size_t at = text.find("@DIR@");
  if (at != std::string::npos) {
    text.replace(at, 5, dir);
  }
  return text;
}

using test::FifoRelease;

// Loading must leave an untouched image exactly as it was; these mark it.
constexpr uint8_t kOldByte = 0x5A;
constexpr int32_t kOldFlag = 7;

void FillOld(SharedBuffers& buf) {
  std::fill_n(buf.AppImage.get(), SharedBuffers::kAppImageSize, kOldByte);
  std::fill_n(buf.BlImage.get(), SharedBuffers::kBlImageSize, kOldByte);
  std::fill_n(buf.UpBlImage.get(), SharedBuffers::kUpBlImageSize, kOldByte);
  buf.AppImageLen = 77;
  buf.BlImageLen = 78;
  buf.UpBlImageLen = 79;
}

// nullopt: untouched; otherwise the bytes loaded, with erased flash after them.
void ExpectImage(const char* what, const uint8_t* image, int32_t capacity, int32_t len,
                 int32_t oldLen, const std::optional<std::string>& loaded) {
  SCOPED_TRACE(what);
  std::string want;
  if (loaded) {
    ASSERT_EQ(len, static_cast<int32_t>(loaded->size()));
    want = *loaded + std::string(capacity - len, '\xFF');
  } else {
    ASSERT_EQ(len, oldLen);
    want = std::string(capacity, static_cast<char>(kOldByte));
  }
  EXPECT_TRUE(std::equal(want.begin(), want.end(), reinterpret_cast<const char*>(image)));
}

struct Case {
  const char* name;
  std::optional<std::string> config;  // nullopt: no file; "@DIR@" becomes the directory
  Files files;
  // Made before the files: "dir:NAME", "fifo:NAME", "sock:NAME", "link:NAME>TARGET".
  std::vector<std::string> nodes;
  int result;
  int32_t flag;
  std::optional<std::string> app, bl, upbl;
  std::string trace;  // one trace line that must appear, if not empty
  // Every file the front end is told about, "PATH: REASON", in order.
  std::vector<std::string> reports = {};
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const std::vector<Case>& Cases() {
  // clang-format off
  static const std::vector<Case> cases = {
    // name, config, files, nodes, result, flag, app, bl, upbl, trace, reports
    {"Step3Enable", Cfg("3", "ENABLE"), kStd, {}, 1, 0, kApp, {}, {}, ""},
    {"Step4", Cfg("4", "DISABLE"), kStd, {}, 1, 3, kApp, kBl, {}, ""},
    {"Step5Remote", Cfg("5", "REMOTE"), kStd, {}, 1, 4, kApp, kBl, kUpBl, ""},
    {"Step2LoadsNothing", Cfg("2", "ENABLE"), kStd, {}, 1, 0, {}, {}, {}, ""},
    {"LowerHexA", Cfg("a", "REMOTE"), kStd, {}, 1, 4, kApp, kBl, kUpBl,
     "\n iRet=1, run_step=10, search_line=7 !"},
    {"OtherCharG", Cfg("G", "DISABLE"), kStd, {}, 1, 3, kApp, kBl, kUpBl,
     "\n iRet=1, run_step=255, search_line=7 !"},
    {"NonAsciiChar", Cfg("\xC3\xA9", "ENABLE"), kStd, {}, 1, 0, kApp, kBl, kUpBl,
     "\n runstep_wxstr(2)=\xC3\xA9 !"},
    {"MalformedUtf8", Cfg("\xE9", "ENABLE"), kStd, {}, 0, 0, {}, {}, {}, ""},
    {"TwoCharStep", Cfg("35", "REMOTE"), kStd, {}, 0, 4, {}, {}, {},
     "\n iRet=0, run_step=0, search_line=7 !"},
    {"EmptyStep", Cfg("", "ENABLE"), kStd, {}, 0, 0, {}, {}, {}, ""},
    {"BareLfInStep", Cfg("3\n", "ENABLE"), kStd, {}, 0, 0, {}, {}, {}, ""},
    {"EnableWithBlank", Cfg("3", "ENABLE "), kStd, {}, 0, 3, kApp, {}, {}, ""},
    {"LowerCaseSetting", Cfg("3", "enable"), kStd, {}, 0, 3, kApp, {}, {}, ""},
    {"LfOnly", Cfg("3", "ENABLE", "app.bin", "[KOVA_CFG_START]", "\n"), kStd, {}, 0, kOldFlag,
     {}, {}, {}, "\n iRet=0, run_step=0, search_line=0 !"},
    {"LowerCaseStart", Cfg("3", "ENABLE", "app.bin", "[kova_cfg_start]"), kStd, {}, 0, kOldFlag,
     {}, {}, {}, ""},
    {"EndWithBlank", Cfg("3", "ENABLE").insert(70, " "), kStd, {}, 0, kOldFlag, {}, {}, {}, ""},
    // Cut after the CR of the seventh line.
    {"LastLineUnterminated", Cfg("3", "ENABLE").substr(0, 71), kStd, {}, 0, kOldFlag,
     {}, {}, {}, "\n iRet=0, run_step=0, search_line=6 !"},
    {"TextAfterLine7", Cfg("3", "ENABLE") + "; comment\r\n" + std::string(300, 'x'), kStd, {},
     1, 0, kApp, {}, {}, ""},
    {"CrInsideLine", Cfg("3", "ENABLE", "ABC\rXYZ"), {{"ABC", kApp}}, {}, 1, 0, kApp, {}, {},
     "\n apfilename_wxstr(3)=ABC !"},
    // The application image is what the board gets, so it is never cut.
    {"OversizedApp", Cfg("3", "ENABLE"), {{"app.bin", kHuge}}, {}, 0, 0, {}, {}, {},
     "\n @DIR@/app.bin: too large: 2000000 bytes, the limit is 1572864 !",
     {"@DIR@/app.bin: too large: 2000000 bytes, the limit is 1572864"}},
    {"AppFillsItsBuffer", Cfg("3", "ENABLE"),
     {{"app.bin", kHuge.substr(0, SharedBuffers::kAppImageSize)}}, {}, 1, 0,
     kHuge.substr(0, SharedBuffers::kAppImageSize), {}, {}, ""},
    // The bootloader images are sent nowhere: cut to their buffers, and traced.
    {"OversizedBlCut", Cfg("4", "ENABLE"), {{"app.bin", kApp}, {"bl.bin", kHuge.substr(0, 10000)}},
     {}, 1, 0, kApp, kHuge.substr(0, SharedBuffers::kBlImageSize), {},
     "\n @DIR@/bl.bin: cut to its first 8192 of 10000 bytes !"},
    {"OversizedUpBlCut", Cfg("5", "ENABLE"), {{"app.bin", kApp}, {"bl.bin", kBl},
     {"upbl.bin", kHuge}}, {}, 1, 0, kApp, kBl, kHuge.substr(0, SharedBuffers::kUpBlImageSize),
     "\n @DIR@/upbl.bin: cut to its first 1048576 of 2000000 bytes !"},
    {"EmptyApp", Cfg("3", "ENABLE"), {{"app.bin", ""}}, {}, 1, 0, std::string(), {}, {}, ""},
    {"MissingBl", Cfg("4", "ENABLE"), {{"app.bin", kApp}}, {}, 0, 0, kApp, {}, {},
     "\n @DIR@/bl.bin: no such file !", {"@DIR@/bl.bin: no such file"}},
    {"MissingAppOthersLoad", Cfg("5", "ENABLE"), {{"bl.bin", kBl}, {"upbl.bin", kUpBl}}, {},
     0, 0, {}, kBl, kUpBl, "", {"@DIR@/app.bin: no such file"}},
    {"AbsoluteImageName", Cfg("3", "ENABLE", "@DIR@/sub/app.bin"), {{"sub/app.bin", kApp}},
     {"dir:sub"}, 1, 0, kApp, {}, {}, ""},
    // Only regular files are taken; anything else is a file that cannot be
    // opened, and a FIFO must not hold the reader in its open.
    {"ImageIsDirectory", Cfg("4", "ENABLE", "appdir"), kStd, {"dir:appdir"}, 0, 0, {}, kBl, {},
     "\n @DIR@/appdir: not a regular file !", {"@DIR@/appdir: not a regular file"}},
    {"ImageIsFifo", Cfg("4", "ENABLE"), {{"bl.bin", kBl}}, {"fifo:app.bin"}, 0, 0, {}, kBl, {},
     "", {"@DIR@/app.bin: not a regular file"}},
    {"ImageIsSocket", Cfg("3", "ENABLE"), {}, {"sock:app.bin"}, 0, 0, {}, {}, {}, "",
     {"@DIR@/app.bin: not a regular file"}},
    {"ImageIsDevNull", Cfg("3", "ENABLE", "/dev/null"), {}, {}, 0, 0, {}, {}, {}, "",
     {"/dev/null: not a regular file"}},
    {"ImageLinkToFifo", Cfg("3", "ENABLE"), {}, {"fifo:pipe", "link:app.bin>pipe"}, 0, 0, {},
     {}, {}, "", {"@DIR@/app.bin: not a regular file"}},
    {"ImageLinkToFile", Cfg("3", "ENABLE"), {{"real.bin", kApp}}, {"link:app.bin>real.bin"}, 1,
     0, kApp, {}, {}, ""},
    {"ImageLinkDangling", Cfg("3", "ENABLE"), {}, {"link:app.bin>gone.bin"}, 0, 0, {}, {}, {},
     "", {"@DIR@/app.bin: no such file"}},
    {"Line127", Cfg("3", "ENABLE", kName127), {{kName127, kApp}}, {}, 1, 0, kApp, {}, {}, ""},
    {"Line128", Cfg("3", "ENABLE", kName127 + "n"), {{kName127 + "n", kApp}}, {}, 0, kOldFlag,
     {}, {}, {}, "\n iRet=0, run_step=0, search_line=3 !"},
    {"NoConfigFile", std::nullopt, kStd, {}, 0, kOldFlag, {}, {}, {},
     "\n iRet=0, run_step=0, search_line=0 !", {"@DIR@/KOVA_Config.cfg: no such file"}},
    {"ConfigIsDirectory", std::nullopt, kStd, {"dir:KOVA_Config.cfg"}, 0, kOldFlag, {}, {}, {},
     "\n @DIR@/KOVA_Config.cfg: not a regular file !",
     {"@DIR@/KOVA_Config.cfg: not a regular file"}},
    {"ConfigIsFifo", std::nullopt, kStd, {"fifo:KOVA_Config.cfg"}, 0, kOldFlag, {}, {}, {},
     "\n iRet=0, run_step=0, search_line=0 !", {"@DIR@/KOVA_Config.cfg: not a regular file"}},
    {"ConfigLinkToFile", std::nullopt, {{"cfg.txt", Cfg("3", "REMOTE")}, {"app.bin", kApp}},
     {"link:KOVA_Config.cfg>cfg.txt"}, 1, 4, kApp, {}, {}, ""},
  };
  // clang-format on
  return cases;
}

class ConfigFileTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConfigFileTest, LoadsAsConfigured) {
  const Case& c = GetParam();
  TempDir dir;
  std::vector<std::string> fifos;
  for (const auto& node : c.nodes) {
    const size_t colon = node.find(':');
    const std::string kind = node.substr(0, colon);
    const std::string name = node.substr(colon + 1);
    if (kind == "dir") {
      fs::create_directory(dir.path() + "/" + name);
      continue;
    }
    const size_t arrow = name.find('>');
    const std::string path = dir.path() + "/" + name.substr(0, arrow);
    const std::string target = arrow == std::string::npos ? "" : name.substr(arrow + 1);
    std::string why;
    const test::NodeMade made = test::MakeFileNode(kind, path, target, why);
    if (made == test::NodeMade::kNotOnThisSystem) {
      GTEST_SKIP() << why;
    }
    ASSERT_EQ(made, test::NodeMade::kMade) << why;
    if (kind == "fifo") {
      fifos.push_back(path);
    }
  }
  for (const auto& [name, content] : c.files) {
    dir.Write(name, content);
  }
  if (c.config) {
    dir.Write("KOVA_Config.cfg", InDir(*c.config, dir.path()));
  }
  FifoRelease release(fifos);
  SharedBuffers buf;
  buf.AllocSharedBuffers();
  FillOld(buf);
  test::RecordingPanel panel;
  MessageLog log(panel);
  int32_t flag = kOldFlag;

  EXPECT_EQ(Load_UpgradeFile(dir.path(), log, buf, flag), c.result);
  EXPECT_EQ(flag, c.flag);
  ExpectImage("app", buf.AppImage.get(), SharedBuffers::kAppImageSize, buf.AppImageLen, 77, c.app);
  ExpectImage("bl", buf.BlImage.get(), SharedBuffers::kBlImageSize, buf.BlImageLen, 78, c.bl);
  ExpectImage("upbl", buf.UpBlImage.get(), SharedBuffers::kUpBlImageSize, buf.UpBlImageLen, 79,
              c.upbl);
  EXPECT_EQ(panel.shown, (std::vector<std::string>{kStart, c.result == 1 ? kOk : kFail}));
  // A line per file that did not load in full, then the reader's nine.
  ASSERT_GE(panel.traces.size(), 9u);
  EXPECT_EQ(panel.traces[panel.traces.size() - 9].rfind("\n file_start_wxstr(", 0), 0u);
  const auto traced = [&panel](const std::string& line) {
    return std::find(panel.traces.begin(), panel.traces.end(), line) != panel.traces.end();
  };
  if (!c.trace.empty()) {
    EXPECT_TRUE(traced(InDir(c.trace, dir.path()))) << c.trace;
  }
  std::vector<std::string> reports;
  for (const std::string& report : c.reports) {
    reports.push_back(InDir(report, dir.path()));
    EXPECT_TRUE(traced("\n " + reports.back() + " !")) << report;
  }
  EXPECT_EQ(panel.fileProblems, reports);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigFileTest, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return std::string(p.param.name); });

// Image names are found from the working directory unless they are absolute
// as the system sees it.
TEST(JoinConfigPathTest, RelativeNamesFollowTheDirectoryAbsoluteOnesStand) {
  const bool windows = host::IsPathSeparator('\\');
  const struct {
    const char* directory;
    const char* name;
    const char* onLinux;
    const char* onWindows;
  } cases[] = {
      {"", "app.bin", "app.bin", "app.bin"},
      {"fw", "app.bin", "fw/app.bin", "fw/app.bin"},
      {"fw/", "app.bin", "fw/app.bin", "fw/app.bin"},
      {"/fw", "/img/app.bin", "/img/app.bin", "/img/app.bin"},
      {"C:\\fw\\", "app.bin", "C:\\fw\\/app.bin", "C:\\fw\\app.bin"},
      {"fw", "C:\\img\\app.bin", "fw/C:\\img\\app.bin", "C:\\img\\app.bin"},
      {"fw", "\\\\server\\img\\app.bin", "fw/\\\\server\\img\\app.bin", "\\\\server\\img\\app.bin"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinConfigPath(c.directory, c.name), windows ? c.onWindows : c.onLinux)
        << c.directory << " + " << c.name;
  }
}

TEST(ConfigFileTraceTest, ListsEveryLineAndTheOutcome) {
  TempDir dir;
  dir.Write("KOVA_Config.cfg", Cfg("G", "DISABLE"));
  for (const auto& [name, content] : kStd) {
    dir.Write(name, content);
  }
  SharedBuffers buf;
  buf.AllocSharedBuffers();
  test::RecordingPanel panel;
  MessageLog log(panel);
  int32_t flag = 0;
  ASSERT_EQ(Load_UpgradeFile(dir.path(), log, buf, flag), 1);
  const std::vector<std::string> want = {
      "\n file_start_wxstr(16)=[KOVA_CFG_START] !",
      "\n runstep_wxstr(1)=G !",
      "\n jumpbootloader_wxstr(7)=DISABLE !",
      "\n apfilename_wxstr(7)=app.bin !",
      "\n blfilename_wxstr(6)=bl.bin !",
      "\n upblfilename_wxstr(8)=upbl.bin !",
      "\n file_end_wxstr(14)=[KOVA_CFG_END] !",
      "\n iRet=1, run_step=255, search_line=7 !",
      "\n run_jumptobootloade_flag=3 !",
  };
  EXPECT_EQ(panel.traces, want);
  EXPECT_EQ(log.MsgText, want.back());
}

TEST(ConfigFileImageTest, ShortImageErasesWhatALongerOneLeft) {
  TempDir dir;
  dir.Write("KOVA_Config.cfg", Cfg("3", "ENABLE"));
  SharedBuffers buf;
  buf.AllocSharedBuffers();
  test::RecordingPanel panel;
  MessageLog log(panel);
  int32_t flag = 0;
  dir.Write("app.bin", std::string(5000, '\x11'));
  ASSERT_EQ(Load_UpgradeFile(dir.path(), log, buf, flag), 1);
  dir.Write("app.bin", std::string(10, '\x22'));
  ASSERT_EQ(Load_UpgradeFile(dir.path(), log, buf, flag), 1);
  EXPECT_EQ(buf.AppImageLen, 10);
  const std::string want =
      std::string(10, '\x22') + std::string(SharedBuffers::kAppImageSize - 10, '\xFF');
  EXPECT_TRUE(
      std::equal(want.begin(), want.end(), reinterpret_cast<const char*>(buf.AppImage.get())));
}

TEST(ConfigFileImageTest, EmptyDirectoryMeansTheWorkingDirectory) {
  TempDir dir;
  dir.Write("KOVA_Config.cfg", Cfg("3", "REMOTE"));
  dir.Write("app.bin", kApp);
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  SharedBuffers buf;
  buf.AllocSharedBuffers();
  test::RecordingPanel panel;
  MessageLog log(panel);
  int32_t flag = 0;
  const int result = Load_UpgradeFile("", log, buf, flag);
  fs::current_path(previous);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(flag, 4);
  EXPECT_EQ(buf.AppImageLen, static_cast<int32_t>(kApp.size()));
}

}  // namespace
}  // namespace kova
