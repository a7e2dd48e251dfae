#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "frontend/interface_lock.h"
#include "frontend/logging_panel.h"
#include "frontend/operation_log.h"
#include "platform/host_files.h"
#include "recording_panel.h"

namespace kova::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::hours;
using Clock = std::chrono::system_clock;

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// "12:00:00.000 " at the start of a line.
bool StartsWithTimeOfDay(const std::string& line) {
  static const char kShape[] = "dd:dd:dd.ddd ";
  if (line.size() < sizeof kShape - 1) {
    return false;
  }
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    const bool ok = kShape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                     : line[i] == kShape[i];
    if (!ok) {
      return false;
    }
  }
  return true;
}

// One whole line of one of the station's cards: its start, or after its
// time the quiet card's messages, a busy card's numbered line naming the
// card it was written for, or a card's result.
bool IsWholeCardLine(const std::string& line) {
  const auto begins = [](const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
  };
  if (begins(line, "2025-06-01 ")) {
    const size_t at = line.find(' ', 11);
    const std::string rest = at == std::string::npos ? "" : line.substr(at + 1);
    for (const std::string card : {"eth1", "eth2", "eth3"}) {
      if (begins(rest, "[" + card + "] ==== upgrade on " + card + ", board ")) {
        return true;
      }
    }
    return false;
  }
  if (!StartsWithTimeOfDay(line)) {
    return false;
  }
  const std::string rest = line.substr(13);
  if (rest == "[eth1] erasing" || rest == "[eth1] erased") {
    return true;
  }
  for (const char* card : {"eth1", "eth2", "eth3"}) {
    if (begins(rest, "[" + std::string(card) + "] ==== ok, ")) {
      return true;
    }
  }
  for (const char* card : {"2", "3"}) {
    const std::string head = "[eth" + std::string(card) + "] card " + card + " line ";
    const std::string number = rest.substr(std::min(rest.size(), head.size()));
    if (begins(rest, head) && !number.empty() &&
        number.find_first_not_of("0123456789") == std::string::npos) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(Read(path));
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// A fixed "now" at noon, local time, so that a day's file name is certain.
Clock::time_point Noon(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return Clock::from_time_t(std::mktime(&t));
}

class OperationLogTest : public ::testing::Test {
 protected:
  std::unique_ptr<OperationLog> Log(LogLimits limits = {}) {
    return std::make_unique<OperationLog>(
        dir.path() + "/log", limits, [this](const std::string& w) { warnings.push_back(w); },
        [this] { return now; });
  }
  std::string Daily(const std::string& date) const { return dir.path() + "/log/" + date + ".log"; }

  WorkDir dir;
  Clock::time_point now = Noon(2025, 6, 1);
  std::vector<std::string> warnings;
};

// Trace lines only when kept; the messages, notes, boxes and result always.
TEST_F(OperationLogTest, AnOperationIsItsStartItsLinesItsBoxesAndItsResult) {
  const std::string t = "12:00:00.000 ";
  const struct {
    bool traces;
    std::vector<std::string> lines;  // after the start line, before the result
  } cases[] = {
      {true,
       {t + "==== image app.bin, 3 bytes, sha256 ab12", t + "    UDPSocket_Send(5) = ",
        t + "      55 0D 0A", t + "======(7). Program ... Successful !======",
        t + "[KOVA Upgrade...] KOVA firmware upgrade ... Successful !", t + "Power Restart !"}},
      {false,
       {t + "==== image app.bin, 3 bytes, sha256 ab12",
        t + "======(7). Program ... Successful !======",
        t + "[KOVA Upgrade...] KOVA firmware upgrade ... Successful !", t + "Power Restart !"}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir.path() + "/log");
    auto log = Log();
    log->KeepTraces(c.traces);
    log->Begin({"kova-upgrade", "upgrade", "eth1", "00:1A:2B:3C:4D:5E"});
    log->Note("image app.bin, 3 bytes, sha256 ab12");
    // A message line is completed while traces go on; it is written whole.
    log->Message("\n======(7). Program ... ");
    log->Text("\n    UDPSocket_Send(5) = ");
    log->Text("\n      55 0D 0A");
    log->Message("Successful !======");
    log->Box("KOVA Upgrade...", "\nKOVA firmware upgrade ... Successful !\nPower Restart !");
    log->End(true, "", "192.168.100.2");
    log->End(false, "again", "");  // one end per operation

    std::vector<std::string> lines = Lines(Daily("2025-06-01"));
    ASSERT_EQ(lines.size(), c.lines.size() + 2) << Read(Daily("2025-06-01"));
    EXPECT_EQ(lines[0].substr(0, 11), "2025-06-01 ");
    EXPECT_NE(
        lines[0].find(t + "==== upgrade on eth1, board 00:1A:2B:3C:4D:5E (kova-upgrade, pid "),
        std::string::npos);
    EXPECT_EQ(lines.back().substr(0, 46), t + "==== ok, board at 192.168.100.2, ");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1), c.lines)
        << "traces " << c.traces;
  }
  EXPECT_TRUE(warnings.empty());
}

// The last 30 days and at most the byte limit in all. A day is written in
// files of a tenth of the limit; at the limit the oldest file goes first,
// today's first files too, and the operation goes on being logged.
TEST_F(OperationLogTest, AtTheLimitTheOldestFilesGoFirst) {
  fs::create_directories(dir.path() + "/log");
  const auto write = [&](const std::string& name, size_t bytes) {
    std::ofstream(dir.path() + "/log/" + name) << std::string(bytes, 'x');
  };
  write("2025-04-30.log", 10);  // 32 days before: gone whatever the size
  write("2025-05-03.log", 10);  // 29 days before: kept by age
  write("2025-05-20.log", 800);
  write("2025-05-31.log", 200);
  write("2025-05-31.1.log", 100);
  write("notes.txt", 5000);
  write("2025-05-31.x.log", 5000);
  auto log = Log({30, 1000});
  log->Begin({"p", "version", "eth1", "M"});
  EXPECT_FALSE(fs::exists(Daily("2025-04-30")));
  EXPECT_FALSE(fs::exists(Daily("2025-05-03"))) << "the oldest goes first";
  EXPECT_FALSE(fs::exists(Daily("2025-05-20")));
  EXPECT_TRUE(fs::exists(Daily("2025-05-31")));
  EXPECT_TRUE(fs::exists(dir.path() + "/log/notes.txt"));
  EXPECT_TRUE(fs::exists(dir.path() + "/log/2025-05-31.x.log"));

  for (int i = 0; i < 100; ++i) {
    log->Message("\nline " + std::to_string(i) + " of a long operation");
  }
  log->End(true, "", "");

  uint64_t total = 0;
  std::vector<std::string> kept;
  std::string text;
  for (int part = 0; part < 100; ++part) {
    const std::string name =
        part == 0 ? "2025-06-01.log" : "2025-06-01." + std::to_string(part) + ".log";
    const std::string path = dir.path() + "/log/" + name;
    if (fs::exists(path)) {
      total += fs::file_size(path);
      kept.push_back(name);
      text += Read(path);
      EXPECT_LE(fs::file_size(path), 100u + 60u) << name;
    }
  }
  EXPECT_FALSE(fs::exists(Daily("2025-05-31")));
  EXPECT_FALSE(fs::exists(dir.path() + "/log/2025-05-31.1.log"));
  ASSERT_FALSE(kept.empty());
  EXPECT_NE(kept.front(), "2025-06-01.log") << "today's first file went first";
  EXPECT_LE(total, 1000u);
  EXPECT_EQ(text.find("line 10 "), std::string::npos);
  EXPECT_NE(text.find("line 99 of a long operation\n"), std::string::npos);
  EXPECT_NE(text.find("==== ok"), std::string::npos);
  EXPECT_EQ(text.find("==== log full"), std::string::npos);
  EXPECT_TRUE(warnings.empty());
}

// A station writes a log per card into the same day's files. A card's log
// making room never removes the file that another card's quiet log is still
// writing, two cards writing at once never cut a line, and each card's result
// is kept; every line names its card.
TEST_F(OperationLogTest, ALogPerCardKeepsEveryLineOfEveryCard) {
  auto quiet = Log({30, 2000});
  quiet->NameCard("eth1");
  quiet->Begin({"p", "upgrade", "eth1", "M1"});
  quiet->Message("\nerasing");
  {
    std::vector<std::unique_ptr<OperationLog>> busy;
    std::vector<std::thread> threads;
    for (int card = 2; card <= 3; ++card) {
      busy.push_back(Log({30, 2000}));
      busy.back()->NameCard("eth" + std::to_string(card));
      threads.emplace_back([log = busy.back().get(), card] {
        log->Begin({"p", "upgrade", "eth" + std::to_string(card), "M"});
        for (int i = 0; i < 400; ++i) {
          log->Message("\ncard " + std::to_string(card) + " line " + std::to_string(i));
        }
        log->End(true, "", "");
      });
    }
    for (std::thread& t : threads) {
      t.join();
    }
  }
  quiet->Message("\nerased");
  quiet->End(true, "", "");

  std::vector<std::string> results;
  for (const auto& file : fs::directory_iterator(dir.path() + "/log")) {
    for (const std::string& line : Lines(file.path().string())) {
      EXPECT_TRUE(IsWholeCardLine(line)) << file.path() << ": " << line;
      if (line.find("] ==== ok, ") != std::string::npos) {
        results.push_back(line.substr(13, 6));
      }
    }
  }
  // The quiet card's file, where the busy ones began too, is still there.
  std::vector<std::string> quietLines;
  for (const std::string& line : Lines(Daily("2025-06-01"))) {
    if (line.find("[eth2]") == std::string::npos && line.find("[eth3]") == std::string::npos) {
      quietLines.push_back(line);
    }
  }
  ASSERT_EQ(quietLines.size(), 4u) << Read(Daily("2025-06-01"));
  EXPECT_NE(quietLines[0].find("==== upgrade on eth1, "), std::string::npos);
  EXPECT_EQ(quietLines[1].substr(13), "[eth1] erasing");
  EXPECT_EQ(quietLines[2].substr(13), "[eth1] erased");
  EXPECT_EQ(quietLines[3].substr(13, 16), "[eth1] ==== ok, ");
  // Each card's result is in the file it held to its end. (A busy card's
  // earlier lines may have gone to make room: the oldest go first.)
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results, (std::vector<std::string>{"[eth1]", "[eth2]", "[eth3]"}));
  EXPECT_TRUE(warnings.empty());
}

TEST_F(OperationLogTest, ADayChangeOpensTheNextDaysFile) {
  auto log = Log();
  log->Begin({"p", "version", "eth1", "M"});
  log->End(true, "", "");
  now += hours(24);
  log->Begin({"p", "version", "eth1", "M"});
  log->End(false, "no-reply", "");
  EXPECT_EQ(Lines(Daily("2025-06-01")).size(), 2u);
  ASSERT_EQ(Lines(Daily("2025-06-02")).size(), 2u);
  EXPECT_NE(Lines(Daily("2025-06-02"))[1].find("==== failed: no-reply, "), std::string::npos);
}

// A log that cannot be written, or that is full with nothing older to drop,
// says so once and never stops an operation.
TEST_F(OperationLogTest, ALogThatCannotTakeMoreWarnsOnce) {
  const struct {
    const char* name;
    bool fileInTheWay;
    std::string box;
    std::string warning;
  } cases[] = {
      {"a file where the directory is", true, "short",
       "cannot write the log " + dir.path() + "/log"},
      {"a line larger than the whole limit", false, std::string(3000, 'b'),
       "the log in " + dir.path() + "/log is full (1000 bytes) with nothing older to drop"},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir.path() + "/log");
    warnings.clear();
    if (c.fileInTheWay) {
      std::ofstream(dir.path() + "/log") << "a file where the directory should be";
    }
    {
      auto log = Log({30, 1000});
      for (int i = 0; i < 3; ++i) {
        log->Begin({"p", "version", "eth1", "M"});
        log->Message("\nsomething");
        log->Box("caption", c.box);
        log->End(true, "", "");
      }
    }
    ASSERT_EQ(warnings.size(), 1u) << c.name;
    EXPECT_EQ(warnings[0].rfind(c.warning, 0), 0u) << c.name << ": " << warnings[0];
    if (!c.fileInTheWay) {
      uint64_t total = 0;
      for (const auto& file : fs::directory_iterator(dir.path() + "/log")) {
        total += file.file_size();
      }
      EXPECT_LE(total, 1000u + 80u) << c.name;
    }
  }
}

// The dialog's warning about its log reaches the message list: held when the
// operation's own clearing of the list is still to come.
TEST(LoggingPanelTest, ALogWarningOutlivesTheOperationsClearing) {
  const struct {
    bool begun;
    std::vector<std::string> shown;
  } cases[] = {
      {true, {"\nwarning: w", "\nstep"}},
      {false, {"\nwarning: w", "\nstep"}},
  };
  for (const auto& c : cases) {
    RecordingPanel inner;
    LoggingPanel logged(inner, nullptr);
    if (c.begun) {
      logged.Begin({"p", "upgrade", "eth1", "M"});
      logged.ShowWarning("warning: w");
      logged.ClearList();
    } else {
      logged.ClearList();
      logged.ShowWarning("warning: w");
    }
    logged.AppendText("\nstep");
    EXPECT_EQ(inner.shown, c.shown) << "begun " << c.begun;
    EXPECT_EQ(inner.list, "\nwarning: w\nstep") << "begun " << c.begun;
  }
}

TEST(InterfaceLockTest, OneHolderPerInterfaceAndItIsNamed) {
  WorkDir dir;
  InterfaceLock first(dir.path());
  InterfaceLock second(dir.path());
  std::string detail;
  ASSERT_EQ(first.Take("eth1", "kova-upgrade", detail), InterfaceLock::Outcome::kTaken);
  EXPECT_EQ(second.Take("eth1", "kova-upgrade-tool", detail), InterfaceLock::Outcome::kHeld);
  EXPECT_EQ(detail.rfind("kova-upgrade, pid " + std::to_string(host::ProcessId()) + ", since ", 0),
            0u)
      << detail;
  EXPECT_EQ(second.Take("eth2", "kova-upgrade-tool", detail), InterfaceLock::Outcome::kTaken);
  first.Release();
  EXPECT_EQ(second.Take("eth1", "kova-upgrade-tool", detail), InterfaceLock::Outcome::kTaken);
  EXPECT_FALSE(first.Taken());

  // Where no lock file can be made the caller is told, not refused.
  dir.Write("file", "a file where the directory should be");
  InterfaceLock nowhere(dir.path() + "/file/locks");
  EXPECT_EQ(nowhere.Take("eth1", "kova-upgrade", detail), InterfaceLock::Outcome::kUnavailable);
  EXPECT_NE(detail.find(dir.path() + "/file"), std::string::npos) << detail;
}

}  // namespace
}  // namespace kova::test
