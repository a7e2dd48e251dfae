#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "engine_fixture.h"
#include "link_fixture.h"
#include "maintenance/maintenance_machines.h"
#include "protocol/channels.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

const Bytes kMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

// A board's answer to "ETH_REQ": its MAC at bytes 21..26, its address at 27..30.
Bytes AddressReply(const Bytes& mac, const Bytes& ip) {
  Bytes frame(31, 0x00);
  frame[1] = 31;
  frame[2] = 0x80;
  frame[3] = 0x00;
  std::copy(mac.begin(), mac.end(), frame.begin() + 21);
  std::copy(ip.begin(), ip.end(), frame.begin() + 27);
  return frame;
}

Bytes RecordReply(const Bytes& payload) {
  return Concat({{0x00, static_cast<uint8_t>(4 + payload.size()), 0x80, 0x07}, payload});
}

class VerCfgTest : public OperationTest {
 protected:
  struct Outcome {
    int32_t done = -1;
    int ticksAfterSend = -1;  // from the command's send to the machine's end
    int passes = 0;
  };

  VerCfgTest() {
    link.NetStarted = 1;
    std::copy(kMac.begin(), kMac.end(), op.DeviceMAC);
  }

  void Pass() {
    RecvPass(link);
    VerCfg_applay(op);
    Broadcast_applay(link);
  }

  // Posts `op` and runs passes, ten to a tick, until the machine is idle
  // again. The board answers the first packet with `reply`, if any, from
  // `from`.
  Outcome Run(int32_t request, const Bytes& reply = {},
              const UdpEndpoint& from = {{192, 168, 100, 2}, 5002}) {
    EXPECT_EQ(op.VerCfg.State, 0);
    op.VerCfg.Op = request;
    op.VerCfg.State = 1;
    Outcome out;
    int ticks = 0;
    int sendTick = -1;
    const size_t sentBefore = net->Sent().size();
    for (out.passes = 1; out.passes <= 5000; ++out.passes) {
      Pass();
      if (sendTick < 0 && net->Sent().size() > sentBefore) {
        sendTick = ticks;
        if (!reply.empty()) {
          net->Deliver(link.BroadcastSocket.handle, reply, from);
        }
      }
      if (op.VerCfg.State == 0) {
        out.done = op.VerCfg.Done;
        out.ticksAfterSend = sendTick < 0 ? -1 : ticks - sendTick;
        return out;
      }
      if (out.passes % 10 == 0) {
        Tick();
        ++ticks;
      }
    }
    ADD_FAILURE() << "request " << request << " never ended";
    return out;
  }
};

TEST_F(VerCfgTest, VersionReplyIsShownInTheListAndABox) {
  struct Case {
    uint8_t major, minor;
    const char* text;
  };
  const Case cases[] = {
      {0x01, 0x07, "\nKOVA Application firmware is v0.107 !"},
      {0x12, 0x34, "\nKOVA Application firmware is v1.234 !"},
      {0xAB, 0xCD, "\nKOVA Application firmware is vA.BCD !"},
  };
  for (const Case& c : cases) {
    panel.list.clear();
    panel.boxes.clear();
    panel.answers.clear();
    net->sent.clear();
    const Outcome out = Run(1, {0x00, 0x06, 0x80, 0x01, c.major, c.minor});
    ASSERT_EQ(panel.answers.size(), 1u);
    EXPECT_EQ(panel.answers[0].second, (Bytes{c.major, c.minor}));
    EXPECT_EQ(out.done, 1) << c.text;
    EXPECT_EQ(panel.list, c.text);
    ASSERT_EQ(panel.boxes.size(), 1u) << c.text;
    EXPECT_EQ(panel.boxes[0].text, c.text);
    EXPECT_EQ(panel.boxes[0].caption, "... KOVA firmware version");
    const auto sent = net->Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, Concat({{0x00, 0x13, 0x80, 0x01}, kMac, Text("FWVER_REQ")}));
    EXPECT_EQ(sent[0].peer.ip, (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(net->OpenCount(), 0) << "the socket is closed after the exchange";
  }
}

TEST_F(VerCfgTest, ConfigurationDefaultAcknowledgedIsShownInTheListAndABox) {
  const Outcome out = Run(6, {0x00, 0x05, 0x80, 0x06, 0x06});
  EXPECT_EQ(out.done, 1);
  EXPECT_EQ(panel.list, "\nKOVA Configuration default !");
  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, "\nKOVA Configuration default !");
  EXPECT_EQ(panel.boxes[0].caption, "... KOVA Configuare");
  ASSERT_EQ(net->Sent().size(), 1u);
  EXPECT_EQ(net->Sent()[0].bytes, Concat({{0x00, 0x15, 0x80, 0x06}, kMac, Text("E2P_DEFAULT")}));
}

TEST_F(VerCfgTest, RequestWithoutItsReplyFailsTwentyTicksAfterTheSend) {
  const Bytes otherMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
  struct Case {
    const char* what;
    int32_t op;
    Bytes reply;
  };
  const Case cases[] = {
      {"silent board", 1, {}},
      {"version reply leaving byte 4 at 0", 1, {0x00, 0x07, 0x80, 0x01, 0x01, 0x07, 0x00}},
      {"configuration default refused", 6, {0x00, 0x05, 0x80, 0x06, 0x15}},
      {"address of another board", 0, AddressReply(otherMac, {10, 0, 0, 9})},
      {"record read unanswered", 7, {}},
      {"reset acknowledged: no reply is awaited", 4, {0x00, 0x05, 0x80, 0x04, 0x06}},
      {"DHCP mode acknowledged: no reply is awaited", 2, {0x00, 0x05, 0x80, 0x02, 0x06}},
  };
  for (const Case& c : cases) {
    op.DeviceIP[3] = 77;
    net->sent.clear();
    const Outcome out = Run(c.op, c.reply);
    EXPECT_EQ(out.done, 0) << c.what;
    EXPECT_GE(out.ticksAfterSend, 20) << c.what;
    EXPECT_LE(out.ticksAfterSend, 21) << c.what;
    EXPECT_EQ(op.DeviceIP[3], 77) << c.what;
    EXPECT_EQ(net->OpenCount(), 0) << c.what << ": a failed exchange closes its socket";
  }
  EXPECT_EQ(panel.list, "");
  EXPECT_TRUE(panel.boxes.empty());
}

TEST_F(VerCfgTest, RecordReadCompletesWhenTheReplyArrivesWhateverItsBytes) {
  struct Case {
    const char* what;
    Bytes payload;
  };
  const Case cases[] = {
      {"erased record of an old-platform board", Bytes(16, 0xFF)},
      {"new-platform mark", {0xAA, 0x55, 0x00, 0x01}},
  };
  for (const Case& c : cases) {
    net->sent.clear();
    op.Buf.DeviceRecord_Set(13, 0xFE);
    op.Buf.DeviceRecord_Set(14, 0x02);
    const Outcome out = Run(7, RecordReply(c.payload));
    EXPECT_EQ(out.done, 1) << c.what;
    EXPECT_EQ(op.Buf.DeviceRecord_Get(15), c.payload[0]) << c.what;
    EXPECT_EQ(op.Buf.DeviceRecord_Get(16), c.payload[1]) << c.what;
    ASSERT_EQ(net->Sent().size(), 1u);
    // The address to read travels in the two bytes behind the command word.
    EXPECT_EQ(net->Sent()[0].bytes,
              Concat({{0x00, 0x14, 0x80, 0x07}, kMac, Text("E2P_READ"), {0xFE, 0x02}}));
  }
  EXPECT_TRUE(panel.boxes.empty());
}

TEST_F(VerCfgTest, ShortRecordReplyLeavesNoEarlierBoardsByteToDecideThePlatform) {
  op.Buf.DeviceRecord_Set(16, 0x55);  // left by a new-platform board before
  const Outcome out = Run(7, RecordReply({0xAA}));
  EXPECT_EQ(out.done, 1);
  EXPECT_EQ(op.Buf.DeviceRecord_Get(15), 0xAA);
  EXPECT_EQ(op.Buf.DeviceRecord_Get(16), 0xFF);
}

// The board answers from the address it reports, which is its own.
TEST_F(VerCfgTest, AddressReplyCompletesEvenWithA255OctetAndSetsDeviceIP) {
  std::copy(kMac.begin(), kMac.end(), neighbours->segment[{192, 168, 255, 255}].begin());
  const Outcome out =
      Run(0, AddressReply(kMac, {192, 168, 255, 255}), {{192, 168, 255, 255}, 5002});
  EXPECT_EQ(out.done, 1);
  EXPECT_EQ(Bytes(op.DeviceIP, op.DeviceIP + 4), (Bytes{192, 168, 255, 255}));
  ASSERT_EQ(net->Sent().size(), 1u);
  EXPECT_EQ(net->Sent()[0].bytes, Concat({{0x00, 0x0B, 0x80, 0x00}, Text("ETH_REQ")}));
}

TEST_F(VerCfgTest, AnswerOfAnEarlierExchangeDoesNotCompleteTheNextOne) {
  struct Case {
    int32_t op;
    std::function<void(Operation&)> stale;
  };
  const Case cases[] = {
      {0, [](Operation& e) { e.link.EthReqAnswered = 1; }},
      {1, [](Operation& e) { e.Buf.DeviceRecord_Set(4, 1); }},
      {6, [](Operation& e) { e.Buf.DeviceRecord_Set(11, 1); }},
      {7, [](Operation& e) { e.link.E2pReadAnswered = 1; }},
  };
  for (const Case& c : cases) {
    c.stale(op);
    EXPECT_EQ(Run(c.op).done, 0) << c.op;
  }
  EXPECT_TRUE(panel.boxes.empty());
}

TEST_F(VerCfgTest, RequestWithoutACommandFailsAtOnceAndSendsNothing) {
  for (int32_t request : {8, 9, -1, 0x101}) {
    const Outcome out = Run(request);
    EXPECT_EQ(out.done, 0) << request;
    EXPECT_EQ(out.passes, 4) << request;
  }
  EXPECT_TRUE(net->opened.empty());
  EXPECT_TRUE(net->Sent().empty());
}

TEST_F(VerCfgTest, SocketThatCannotBeMadeFailsTheRequest) {
  net->failOpen = true;
  EXPECT_EQ(Run(1, {0x00, 0x06, 0x80, 0x01, 0x01, 0x07}).done, 0);
  EXPECT_TRUE(net->Sent().empty());
  EXPECT_TRUE(panel.boxes.empty());

  net->failOpen = false;
  net->failSend = true;
  EXPECT_EQ(Run(1, {0x00, 0x06, 0x80, 0x01, 0x01, 0x07}).done, 0);
  EXPECT_EQ(net->OpenCount(), 0);
}

TEST_F(VerCfgTest, RunningRequestIsNotReplacedByASecondPost) {
  // A requester posts only to an idle machine: one that looked idle before
  // its result was written would have its request replaced.
  auto post = [this](int32_t request) {
    if (op.VerCfg.State != 0) {
      return false;
    }
    op.VerCfg.Op = request;
    op.VerCfg.State = 1;
    return true;
  };
  ASSERT_TRUE(post(1));
  bool delivered = false;
  int taken = 0;
  int pass = 1;
  for (; pass <= 2000 && op.VerCfg.Done == 0; ++pass) {
    Pass();
    if (!delivered && !net->Sent().empty()) {
      net->Deliver(link.BroadcastSocket.handle, {0x00, 0x06, 0x80, 0x01, 0x01, 0x07});
      delivered = true;
    }
    if (op.VerCfg.Done == 0 && post(6)) {
      ++taken;
    }
    if (pass % 10 == 0) {
      Tick();
    }
  }
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(op.VerCfg.Done, 1);
  EXPECT_EQ(op.VerCfg.Op, 1);
  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].caption, "... KOVA firmware version");
  Pass();
  // Idle again once the result is written: the next request is taken.
  EXPECT_EQ(Run(6, {0x00, 0x05, 0x80, 0x06, 0x06}).done, 1);
  ASSERT_EQ(panel.boxes.size(), 2u);
  EXPECT_EQ(panel.boxes[1].caption, "... KOVA Configuare");
}

// The whole road of Get Version: the top-level machine posts the request,
// the broadcast channel carries it, the box shows the answer.
class VerCfgEngineTest : public EngineTest {};

TEST_F(VerCfgEngineTest, GetVersionThroughTheEngine) {
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, false);
  StartUp();
  ASSERT_TRUE(engine.PostAction(kActionGetVersion));
  bool delivered = false;
  for (int pass = 1; pass <= 3000 && engine.OperationsEnded() == 0; ++pass) {
    RecvPass(link);
    engine.RunPass();
    if (!delivered && !net->Sent().empty()) {
      net->Deliver(link.BroadcastSocket.handle, {0x00, 0x06, 0x80, 0x01, 0x01, 0x07});
      delivered = true;
    }
    if (pass % 10 == 0) {
      engine.CountdownTick();
    }
  }
  ASSERT_EQ(engine.OperationsEnded(), 1);
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);
  const std::string line = "\nKOVA Application firmware is v0.107 !";
  ASSERT_GE(panel.list.size(), line.size());
  EXPECT_EQ(panel.list.substr(panel.list.size() - line.size()), line);
  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, line);
  EXPECT_EQ(net->OpenCount(), 0);
}

}  // namespace
}  // namespace kova::test
