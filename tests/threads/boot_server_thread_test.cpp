#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "boot_board.h"
#include "common/countdown_slots.h"
#include "engine_fixture.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;

// The engine's boot server thread on the in-memory network, with the board
// of the fixture (192.168.100.2 behind eth1) played by a BootBoard.
class BootServerThreadTest : public EngineTest {
 protected:
  BootServerThreadTest() : board(*net) {
    std::memcpy(EngineTestAccess::Op(engine).DeviceMAC, kBoardMac, 6);
    const uint8_t ip[4] = {192, 168, 100, 2};
    std::memcpy(EngineTestAccess::Op(engine).DeviceIP, ip, 4);
    image = PatternImage(1000);
    std::memcpy(EngineTestAccess::Op(engine).Buf.AppImage.get(), image.data(), image.size());
    EngineTestAccess::Op(engine).Buf.AppImageLen = static_cast<int32_t>(image.size());
    EngineTestAccess::Op(engine).BootServerLimits.magicPeriod = 1ms;
    EngineTestAccess::Op(engine).BootServerLimits.resendAfter = 2ms;
    net->sleepInWait = true;
  }

  bool WaitForServer(std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!EngineTestAccess::Op(engine).BootServerFinished()) {
      if (std::chrono::steady_clock::now() > end) {
        return false;
      }
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  BootBoard board;
  std::vector<uint8_t> image;
};

TEST_F(BootServerThreadTest, ServesTheBoardAndSetsUDPDoneWithTheResult) {
  EngineTestAccess::Op(engine).Countdown.Set(countdown::kBootWait, 50);
  // Someone else's read request comes first; its trace reaches the log.
  board.onWait = [this](int wait) {
    if (wait == 1) {
      net->Deliver(board.Tftp(), TftpPacket(1), {{192, 168, 100, 7}, 2000});
    }
  };
  EngineTestAccess::LinkOf(engine).UDPDone = 1;
  ASSERT_TRUE(EngineTestAccess::Op(engine).StartBootServer());
  ASSERT_TRUE(WaitForServer());
  EXPECT_EQ(EngineTestAccess::Op(engine).BootServerExit.load(), kBootServerComplete);
  EXPECT_EQ(board.image, image);
  EXPECT_EQ(EngineTestAccess::Op(engine).Progress.load(), 100);
  EXPECT_EQ(EngineTestAccess::Op(engine).Countdown.Get(countdown::kBootWait), 0);
  EXPECT_EQ(net->SpecOf(board.Bootp()).device, "eth1");
  ASSERT_EQ(panel.traces.size(), 1u);
  EXPECT_NE(panel.traces[0].find("192.168.100.7"), std::string::npos);
  EXPECT_TRUE(EngineTestAccess::Op(engine).StopBootServer());
  EXPECT_EQ(net->OpenCount(), 0);
}

TEST_F(BootServerThreadTest, PortHeldByAnotherServerIsAFailureThatSaysSo) {
  net->refuseOpen = [](const UdpSocketSpec& spec) { return spec.local.port == 67; };
  ASSERT_TRUE(EngineTestAccess::Op(engine).StartBootServer());
  ASSERT_TRUE(WaitForServer());
  EXPECT_EQ(EngineTestAccess::Op(engine).BootServerExit.load(), kBootServerNoBootpSocket);
  EXPECT_EQ(EngineTestAccess::Op(engine).BootServerResultText(),
            "Boot server: cannot open the BOOTP port 67 on eth1 (another DHCP or BOOTP server may "
            "hold the port)");
}

// Shutdown and the end of an operation both stop a server in the middle of
// a transfer, join its thread and leave no socket bound.
void StopMidTransfer(Engine& engine, BootBoard& board, FakeNet& net,
                     const std::function<void()>& stop) {
  std::atomic<bool> stalled{false};
  board.lose = [&stalled](uint16_t block, int) {
    stalled = block == 2;
    return block == 2;
  };
  ASSERT_TRUE(EngineTestAccess::Op(engine).StartBootServer());
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!stalled.load() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(stalled.load());
  EXPECT_EQ(EngineTestAccess::LinkOf(engine).UDPDone.load(), 0);
  stop();
  EXPECT_FALSE(EngineTestAccess::Op(engine).BootServerThread.Started());
  EXPECT_EQ(EngineTestAccess::LinkOf(engine).UDPDone.load(), 1);
  EXPECT_EQ(EngineTestAccess::Op(engine).BootServerExit.load(), kBootServerStopped);
  EXPECT_EQ(net.OpenCount(), 0);
}

TEST_F(BootServerThreadTest, ShutdownStopsTheServerMidTransfer) {
  StopMidTransfer(engine, board, *net, [this] { engine.ShutdownAll(); });
}

TEST_F(BootServerThreadTest, EndOfTheOperationStopsTheServerMidTransfer) {
  StopMidTransfer(engine, board, *net, [this] { EngineTestAccess::IdleStep(engine); });
}

}  // namespace
}  // namespace kova::test
