#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "common/action_codes.h"
#include "engine_fixture.h"
#include "isp_board_peer.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

// Another machine of the segment, known to the host's table: its own address
// and MAC.
const UdpEndpoint kStranger{{192, 168, 100, 7}, 5002};
const std::array<uint8_t, 6> kStrangerMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x99};

// What the stranger sends every tick, on every socket the engine has open:
// answers of every shape the engine waits for (a platform record, an
// acknowledgement, an address answer naming it, a bootloader's reply line).
const Bytes kStrangerTraffic[] = {
    {0x00, 0x06, 0x80, 0x07, 0xFF, 0xFF},
    {0x00, 0x05, 0x81, 0xF0, 0x06},
    Concat({{0x00, 31, 0x80, 0x00},
            Bytes(17, 0x00),
            Bytes(kStrangerMac.begin(), kStrangerMac.end()),
            {192, 168, 100, 7}}),
    Text("OK\r\n"),
    Text("0\r\n"),
};

// The engine's waits for a board that goes silent, on a segment where another
// machine talks every tick: each ends at its own bound, tick for tick as on a
// quiet segment.
class WaitsUnderForeignTraffic : public EngineTest {
 protected:
  WaitsUnderForeignTraffic() : board(*net) {
    panel.recordTraces = false;
    StartUp();
    neighbours->Put(neighbours->routeIfindex, kStranger.ip, kStrangerMac, false);
  }

  // Runs the operation to its end. Ticks from the last datagram the engine
  // sent to the failure the operation noted first, and that failure.
  std::pair<int, FailReason> TicksToFailure(int32_t action, bool busy) {
    const int before = engine.OperationsEnded();
    op.ClearFailure();
    EXPECT_TRUE(engine.PostAction(action));
    int ticks = 0;
    int lastSend = -1;
    int failed = -1;
    FailReason reason = FailReason::kNone;
    size_t sent = net->Sent().size();
    for (int pass = 1; pass <= 400000 && engine.OperationsEnded() == before; ++pass) {
      RecvPass(link);
      engine.RunPass();
      if (failed < 0 && op.Reason() != FailReason::kNone) {
        failed = ticks;
        reason = op.Reason();
      } else if (failed < 0 && net->Sent().size() != sent) {
        sent = net->Sent().size();
        lastSend = ticks;
      }
      if (pass % 10 == 0) {
        for (const SocketRecord* sock : {&link.BroadcastSocket, &link.UDPSocket}) {
          for (const Bytes& d : kStrangerTraffic) {
            if (busy && sock->open) {
              net->Deliver(sock->handle, d, kStranger);
            }
          }
        }
        engine.CountdownTick();
        ++ticks;
      }
    }
    EXPECT_EQ(engine.OperationsEnded(), before + 1) << "the operation never ended";
    EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
    return {lastSend < 0 || failed < 0 ? -1 : failed - lastSend, reason};
  }

  IspBoardPeer board;
};

TEST_F(WaitsUnderForeignTraffic, EveryWaitForASilentBoardEndsAtItsBound) {
  struct Case {
    const char* name;
    int32_t action;
    const char* jump;
    std::vector<uint8_t> checkCode;  // what the board reports of its platform
    bool bootloaderSilent;
    int ticks;
  };
  const std::vector<uint8_t> kOld = {0xFF, 0xFF};
  const std::vector<uint8_t> kNew = {0xAA, 0x55};
  const Case cases[] = {
      // The board answers nothing but its platform record.
      {"Get Version: the broadcast reply", kActionGetVersion, "DISABLE", kOld, false, 20},
      {"EEPROM: the unicast reply", kActionGetEeprom, "DISABLE", kOld, false, 20},
      {"jump to the bootloader: each acknowledgement", kActionUpgrade, "ENABLE", kNew, false, 20},
      {"ISP dialogue: the reply line", kActionUpgrade, "DISABLE", kOld, true, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.WriteConfig(c.jump);
    dir.WriteImage(c.checkCode == kOld, c.checkCode == kNew);
    board.checkCode = c.checkCode;
    if (c.bootloaderSilent) {
      board.script = [](int, const std::string&, std::vector<std::string>& out) {
        out.clear();
        return true;
      };
    }
    // A bound starts once its request has been reported sent, a few passes
    // after the datagram left: that may fall in the next tick.
    const auto quiet = TicksToFailure(c.action, false);
    EXPECT_GE(quiet.first, c.ticks);
    EXPECT_LE(quiet.first, c.ticks + 1);
    EXPECT_EQ(quiet.second, FailReason::kNoReply);
    const auto busy = TicksToFailure(c.action, true);
    EXPECT_EQ(busy.first, quiet.first);
    EXPECT_EQ(busy.second, FailReason::kNoReply);
  }
}

}  // namespace
}  // namespace kova::test
