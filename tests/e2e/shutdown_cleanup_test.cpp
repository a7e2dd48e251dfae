// Closing the tool in the middle of an operation: with both sockets open and
// the board's neighbour entry installed, shutdown leaves neither behind. Runs
// inside the namespace that run_in_netns.sh makes (link kova-h0,
// 192.168.100.1/24).

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "engine_fixture.h"
#include "hostnet/neighbour_table.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t kBoardIP[4] = {192, 168, 100, 2};

int OpenSockets() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    struct stat st {};
    if (stat(entry.path().c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
      ++count;
    }
  }
  return count;
}

bool BoardEntryPresent() {
  std::vector<NeighbourEntry> rows;
  EXPECT_EQ(DumpNeighbours(rows), 0);
  for (const NeighbourEntry& row : rows) {
    if (std::memcmp(row.ip.data(), kBoardIP, 4) == 0) {
      return true;
    }
  }
  return false;
}

TEST(ShutdownCleanupTest, ClosingMidOperationRemovesTheEntryAndClosesBothSockets) {
  if (if_nametoindex("kova-h0") == 0) {
    GTEST_SKIP() << "no kova-h0: run through run_in_netns.sh";
  }
  WorkDir dir;
  dir.WriteConfig("ENABLE", "0");  // run step 0 loads no image
  RecordingPanel panel;
  panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
  panel.inputs.ipField = "192.168.100.2";
  Engine engine(panel, dir.path());
  engine.LoadAdapters();
  int sel = -1;
  for (int i = 0; i < EngineTestAccess::Adapters(engine).Count; ++i) {
    if (EngineTestAccess::Adapters(engine).AdapterDesc[i] == "kova-h0") {
      sel = i;
    }
  }
  ASSERT_GE(sel, 0);
  engine.SelectInterface(sel);

  // An operation that opens both sockets, installs the entry and then never
  // ends: the operator closes the tool while it runs.
  std::atomic<bool> holding{false};
  EngineTestAccess::Machines(engine).Eeprom = Script([&holding](Operation& e) {
    if (e.Eeprom.State != 1) {
      return;
    }
    if (e.link.BroadcastSocket_Create() == 1 && e.link.UDPSocket_Create(5002, 0) == 1 &&
        e.Create_StaticARP() == 1) {
      // The removal must go to the entry that was made, whatever board the
      // engine addresses afterwards.
      e.DeviceIP[3] = 99;
      holding = e.Entry.StaticArpAdded == 1;
    }
    e.Eeprom.State = 2;
  });
  const int socketsBefore = OpenSockets();
  engine.StartThreads();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!engine.PostAction(kActionGetModelName) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  while (!holding && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(holding) << "the operation did not get its sockets and entry";
  ASSERT_TRUE(BoardEntryPresent());
  EXPECT_EQ(OpenSockets(), socketsBefore + 2);

  engine.ShutdownAll();
  EXPECT_FALSE(BoardEntryPresent()) << "the neighbour entry outlived shutdown";
  EXPECT_EQ(OpenSockets(), socketsBefore) << "a socket outlived shutdown";
  EXPECT_EQ(EngineTestAccess::Op(engine).Entry.StaticArpAdded, 0);
  EXPECT_EQ(EngineTestAccess::Worker(engine).Exited.load(), 1);
  EXPECT_EQ(EngineTestAccess::Receiver(engine).Exited.load(), 1);
}

}  // namespace
}  // namespace kova::test
