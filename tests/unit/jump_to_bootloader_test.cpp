#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_fixture.h"
#include "procedures/procedures.h"
#include "protocol/channels.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const Bytes kAck = {0x00, 0x05, 0x80, 0x05, 0x06};

Bytes BootloaderPacket() {
  Bytes out = {0x00, 0x14, 0x80, 0x05};
  out.insert(out.end(), kMac.begin(), kMac.end());
  const std::string word = "BOOTLOADER";
  out.insert(out.end(), word.begin(), word.end());
  return out;
}

class JumpTest : public OperationTest {
 protected:
  struct Outcome {
    int32_t stepDone = -1;
    std::vector<int> sendTicks;  // tick count at each packet sent
    int ticks = 0;               // at the end
  };

  JumpTest() {
    link.NetStarted = 1;
    std::copy(kMac.begin(), kMac.end(), op.DeviceMAC);
  }

  // Runs the procedure as the dispatcher does, with the broadcast channel
  // behind it, ten passes to a tick. The board answers packet number
  // `answerOn` (1-based; 0 never) with `answer`.
  Outcome Run(int answerOn, const Bytes& answer = kAck) {
    op.Step.Busy = 1;
    Outcome out;
    size_t seen = 0;
    for (int pass = 1; pass <= 20000 && op.Step.Busy != 0; ++pass) {
      RecvPass(link);
      JumpToBootloader_Step(op);
      Broadcast_applay(link);
      const auto sent = net->Sent();
      if (sent.size() > seen) {
        seen = sent.size();
        out.sendTicks.push_back(out.ticks);
        if (static_cast<int>(seen) == answerOn) {
          net->Deliver(link.BroadcastSocket.handle, answer);
        }
      }
      if (pass % 10 == 0) {
        Tick();
        ++out.ticks;
      }
    }
    EXPECT_EQ(op.Step.Busy, 0) << "the procedure never ended";
    out.stepDone = op.Step.Done;
    return out;
  }
};

TEST_F(JumpTest, BoardAcknowledgingTheNthPacketIsInItsBootloader) {
  for (int answerOn : {1, 3, 4}) {
    panel.list.clear();
    net->sent.clear();
    net->opened.clear();
    const Outcome out = Run(answerOn);
    EXPECT_EQ(out.stepDone, 1) << answerOn;
    EXPECT_EQ(panel.list, "\n======KOVA : Jump to Bootloader ... Successful !======") << answerOn;
    const auto sent = net->Sent();
    ASSERT_EQ(sent.size(), static_cast<size_t>(answerOn));
    for (const auto& d : sent) {
      EXPECT_EQ(d.bytes, BootloaderPacket());
      EXPECT_EQ(d.peer.ip, (std::array<uint8_t, 4>{255, 255, 255, 255}));
    }
    for (size_t i = 1; i < out.sendTicks.size(); ++i) {
      EXPECT_GE(out.sendTicks[i] - out.sendTicks[i - 1], 20) << "attempt " << i + 1;
      EXPECT_LE(out.sendTicks[i] - out.sendTicks[i - 1], 21) << "attempt " << i + 1;
    }
    EXPECT_EQ(net->opened.size(), 1u) << "one socket for all attempts";
    EXPECT_EQ(net->OpenCount(), 0) << "closed through the channel";
  }
}

TEST_F(JumpTest, BoardThatNeverAcknowledgesGetsFourPacketsThenFails) {
  struct Case {
    const char* what;
    Bytes answer;
  };
  const Case cases[] = {
      {"silent", {}},
      {"negative acknowledgement", {0x00, 0x05, 0x80, 0x05, 0x15}},
      {"acknowledgement of another command", {0x00, 0x05, 0x80, 0x04, 0x06}},
  };
  for (const Case& c : cases) {
    panel.list.clear();
    net->sent.clear();
    const Outcome out = Run(c.answer.empty() ? 0 : 1, c.answer);
    EXPECT_EQ(out.stepDone, 0) << c.what;
    EXPECT_EQ(panel.list, "\n======KOVA : Jump to Bootloader ... Failed !======") << c.what;
    EXPECT_EQ(net->Sent().size(), 4u) << c.what;
    ASSERT_EQ(out.sendTicks.size(), 4u);
    const int last = out.sendTicks.back();
    EXPECT_GE(out.ticks - last, 20) << c.what;
    EXPECT_LE(out.ticks - last, 21) << c.what;
    EXPECT_GE(last - out.sendTicks.front(), 60) << c.what;
    EXPECT_LE(last - out.sendTicks.front(), 63) << c.what;
    EXPECT_EQ(net->OpenCount(), 0) << c.what << ": the socket is closed directly";
  }
}

TEST_F(JumpTest, SocketThatCannotBeMadeOrUsedFailsTheJump) {
  net->failOpen = true;
  Outcome out = Run(1);
  EXPECT_EQ(out.stepDone, 0);
  EXPECT_TRUE(net->Sent().empty());
  EXPECT_EQ(panel.list, "\n======KOVA : Jump to Bootloader ... Failed !======");

  net->failOpen = false;
  net->failSend = true;
  out = Run(1);
  EXPECT_EQ(out.stepDone, 0);
  EXPECT_EQ(net->OpenCount(), 0);
}

TEST_F(JumpTest, StaleAcknowledgementDoesNotCount) {
  op.Buf.DeviceRecord_Set(10, 1);
  const Outcome out = Run(0);
  EXPECT_EQ(out.stepDone, 0);
  EXPECT_EQ(net->Sent().size(), 4u);
}

TEST_F(JumpTest, BusyChannelAtTheMomentOfSendingFailsTheJump) {
  op.Step.Busy = 1;
  for (int pass = 0; pass < 1000 && op.Step.Busy != 4; ++pass) {
    JumpToBootloader_Step(op);
    Broadcast_applay(link);
    Tick();
  }
  ASSERT_EQ(op.Step.Busy, 4);
  ASSERT_EQ(Broadcast_Close(link), 1);  // someone else's request
  for (int pass = 0; pass < 4 && op.Step.Busy != 0; ++pass) {
    JumpToBootloader_Step(op);
  }
  EXPECT_EQ(op.Step.Busy, 0);
  EXPECT_EQ(op.Step.Done, 0);
  EXPECT_TRUE(net->Sent().empty());
  EXPECT_EQ(net->OpenCount(), 0);
}

}  // namespace
}  // namespace kova::test
