#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "frontend/interface_lock.h"
#include "frontend/operation_log.h"
#include "platform/host_files.h"

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

TEST_F(OperationLogTest, AnOperationIsItsStartItsLinesItsBoxesAndItsResult) {
  auto log = Log();
  log->Begin({"kova-upgrade", "upgrade", "eth1", "00:1A:2B:3C:4D:5E"});
  // A message line is completed while traces go on; it is written whole.
  log->Message("\n======(7). Program ... ");
  log->Text("\n    UDPSocket_Send(5) = ");
  log->Text("\n      55 0D 0A");
  log->Message("Successful !======");
  log->Box("KOVA Upgrade...", "\nKOVA firmware upgrade ... Successful !\nPower Restart !");
  log->End(true, "", "192.168.100.2");
  log->End(false, "again", "");  // one end per operation

  const std::vector<std::string> lines = Lines(Daily("2025-06-01"));
  ASSERT_EQ(lines.size(), 7u) << Read(Daily("2025-06-01"));
  const std::string t = "12:00:00.000 ";
  EXPECT_EQ(lines[0].substr(0, 11), "2025-06-01 ");
  EXPECT_NE(lines[0].find(t + "==== upgrade on eth1, board 00:1A:2B:3C:4D:5E (kova-upgrade, pid "),
            std::string::npos);
  EXPECT_EQ(lines[1], t + "    UDPSocket_Send(5) = ");
  EXPECT_EQ(lines[2], t + "      55 0D 0A");
  EXPECT_EQ(lines[3], t + "======(7). Program ... Successful !======");
  EXPECT_EQ(lines[4], t + "[KOVA Upgrade...] KOVA firmware upgrade ... Successful !");
  EXPECT_EQ(lines[5], t + "Power Restart !");
  EXPECT_EQ(lines[6].substr(0, 46), t + "==== ok, board at 192.168.100.2, ");
  EXPECT_TRUE(warnings.empty());
}

// The last 30 days and at most the byte limit in all, the oldest days first;
// the day being written is never dropped, and stops growing at the limit.
TEST_F(OperationLogTest, OldDaysAreDroppedAndTheWholeStaysWithinItsBytes) {
  fs::create_directories(dir.path() + "/log");
  const auto write = [&](const std::string& date, size_t bytes) {
    std::ofstream(Daily(date)) << std::string(bytes, 'x');
  };
  write("2025-04-30", 10);  // 32 days before: gone whatever the size
  write("2025-05-03", 10);  // 29 days before: kept by age
  write("2025-05-20", 800);
  write("2025-05-31", 300);
  std::ofstream(dir.path() + "/log/notes.txt") << "not a day's log";
  auto log = Log({30, 1000});
  log->Begin({"p", "version", "eth1", "M"});
  EXPECT_FALSE(fs::exists(Daily("2025-04-30")));
  EXPECT_FALSE(fs::exists(Daily("2025-05-03"))) << "the oldest goes first";
  EXPECT_FALSE(fs::exists(Daily("2025-05-20")));
  EXPECT_TRUE(fs::exists(Daily("2025-05-31")));
  EXPECT_TRUE(fs::exists(dir.path() + "/log/notes.txt"));

  // Today's file may take what the others leave, then one line says so.
  for (int i = 0; i < 100; ++i) {
    log->Text("\nline " + std::to_string(i) + " of a long trace");
  }
  log->End(true, "", "");
  EXPECT_LE(fs::file_size(Daily("2025-06-01")), 700u + 80u);
  const std::string today = Read(Daily("2025-06-01"));
  EXPECT_NE(today.find("==== log full"), std::string::npos);
  EXPECT_EQ(today.find("==== ok"), std::string::npos);
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

TEST_F(OperationLogTest, ALogThatCannotBeWrittenWarnsOnceAndStaysQuiet) {
  std::ofstream(dir.path() + "/log") << "a file where the directory should be";
  auto log = Log();
  for (int i = 0; i < 3; ++i) {
    log->Begin({"p", "version", "eth1", "M"});
    log->Message("\nsomething");
    log->End(true, "", "");
  }
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind("cannot write the log " + dir.path() + "/log", 0), 0u) << warnings[0];
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
