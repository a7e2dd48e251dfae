#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bytes.h"
#include "common/countdown_slots.h"
#include "link_fixture.h"
#include "maintenance/maintenance_machines.h"
#include "protocol/channels.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

// A unicast reply frame with the given code and payload.
Bytes Reply(uint8_t code, const Bytes& payload) {
  return Frame(0x81, code, payload);
}

class EepromTest : public OperationTest {
 protected:
  struct Outcome {
    int32_t done = -1;
    int ticksAfterSend = -1;  // from the command's send to the machine's end
    int passes = 0;
  };

  EepromTest() {
    link.NetStarted = 1;
    const uint8_t ip[4] = {192, 168, 100, 2};
    std::copy(ip, ip + 4, op.DeviceIP);
  }

  void Pass() {
    RecvPass(link);
    Eeprom_applay(op);
    UDP_applay(link);
  }

  // A worker pass every 5 ms: the 260-byte EEPROM reply is decoded one byte
  // a pass, well within its 2 s.
  static constexpr int kPassesPerTick = 20;

  // Posts `op` and runs passes until the machine is idle again. The board answers the first packet
  // with `reply`, if any.
  Outcome Run(int32_t request, const Bytes& reply = {}) {
    EXPECT_EQ(op.Eeprom.State, 0);
    op.Eeprom.Op = request;
    op.Eeprom.State = 1;
    Outcome out;
    int ticks = 0;
    int sendTick = -1;
    const size_t sentBefore = net->Sent().size();
    for (out.passes = 1; out.passes <= 40000; ++out.passes) {
      Pass();
      if (sendTick < 0 && net->Sent().size() > sentBefore) {
        sendTick = ticks;
        if (!reply.empty()) {
          net->Deliver(link.UDPSocket.handle, reply);
        }
      }
      if (op.Eeprom.State == 0) {
        out.done = op.Eeprom.Done;
        out.ticksAfterSend = sendTick < 0 ? -1 : ticks - sendTick;
        return out;
      }
      if (out.passes % kPassesPerTick == 0) {
        Tick();
        ++ticks;
      }
    }
    ADD_FAILURE() << "request " << request << " never ended";
    return out;
  }

  // The traces from the first one equal to `from`, joined.
  std::string TracesFrom(const std::string& from) const {
    std::string out;
    bool on = false;
    for (const std::string& t : panel.traces) {
      on = on || t == from;
      if (on) {
        out += t;
      }
    }
    return out;
  }
};

TEST_F(EepromTest, ModelNameOfTwentyBytesIsReadAndTraced) {
  const Bytes name = Text("KOVA-QX204-BOARD");
  const Outcome out = Run(31, Reply(0x1F, name));
  EXPECT_EQ(out.done, 1);
  Bytes stored;
  for (int i = 12; i < 28; ++i) {
    stored.push_back(op.Buf.UDPReply_Get(i));
  }
  EXPECT_EQ(stored, name);
  EXPECT_EQ(
      TracesFrom("\n    KOVA MODEL NAME[16] ="),
      "\n    KOVA MODEL NAME[16] =\n      " + Hex(name) + "\n    UDP Command ... Successful !");
  ASSERT_EQ(panel.answers.size(), 1u);
  EXPECT_EQ(panel.answers[0].first, BoardAnswer::kModelName);
  EXPECT_EQ(panel.answers[0].second, name);
  EXPECT_EQ(panel.list, "");
  ASSERT_EQ(net->Sent().size(), 1u);
  EXPECT_EQ(net->Sent()[0].bytes, Concat({{0x00, 0x11, 0x81, 0x1F}, Text("GET_MODELNAME")}));
  EXPECT_EQ(net->OpenCount(), 0);
}

TEST_F(EepromTest, RequestsTheBoardDoesNotCompleteFailAfterTheirTimeOut) {
  struct Case {
    const char* what;
    int32_t op;
    Bytes reply;
    int ticks;
  };
  const Case cases[] = {
      {"model name of 21 bytes", 31, Reply(0x1F, Bytes(17, 'A')), 20},
      {"model name of 19 bytes", 31, Reply(0x1F, Bytes(15, 'A')), 20},
      {"model name set refused", 32, Reply(0x20, {0x15}), 20},
      {"EEPROM one byte short", 29, Reply(0x1D, Bytes(255, 0x11)), 20},
      {"version unanswered", 1, {}, 20},
      {"ETH_REQ: no reply is awaited", 0, {}, 20},
      {"GET_BLVER: no reply is awaited", 17, Reply(0x11, {0x06}), 20},
      {"SEND_FILE unacknowledged", 34, {}, 10},
      {"CHECK_REMOTE_UPDATE unacknowledged", 36, {}, 100},
      {"REMOTE_UPDATE unacknowledged", 35, {}, 600},
  };
  for (const Case& c : cases) {
    panel.traces.clear();
    const Outcome out = Run(c.op, c.reply);
    EXPECT_EQ(out.done, 0) << c.what;
    EXPECT_GE(out.ticksAfterSend, c.ticks) << c.what;
    EXPECT_LE(out.ticksAfterSend, c.ticks + 1) << c.what;
    EXPECT_NE(std::find(panel.traces.begin(), panel.traces.end(), "\n    UDP Command ... Failed !"),
              panel.traces.end())
        << c.what;
    EXPECT_EQ(net->OpenCount(), 0) << c.what << ": a failed exchange closes its socket";
  }
  EXPECT_EQ(panel.list, "");
}

TEST_F(EepromTest, SetModelNameSendsTheFixedNameAndItsTerminator) {
  link.UDPCmdArgs[16] = 0x41;  // nothing behind the name may be sent
  const Outcome out = Run(32, Reply(0x20, {0x06}));
  EXPECT_EQ(out.done, 1);
  const auto sent = net->Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes,
            Concat({{0x00, 0x18, 0x81, 0x20}, Text("SET_MODELNAME"), Text("QX-204"), {0x00}}));
  EXPECT_EQ(sent[0].peer.ip, (std::array<uint8_t, 4>{192, 168, 100, 2}));
  EXPECT_EQ(sent[0].peer.port, 5002);
  EXPECT_EQ(net->SpecOf(sent[0].handle).local.port, 0);
  EXPECT_EQ(TracesFrom("\n    KOVA MODEL NAME Set ... Ok !"),
            "\n    KOVA MODEL NAME Set ... Ok !\n    UDP Command ... Successful !");
}

TEST_F(EepromTest, EepromImageIsReadAndDumpedInSixteenLines) {
  Bytes image(256);
  for (int i = 0; i < 256; ++i) {
    image[i] = static_cast<uint8_t>(255 - i);
  }
  const Outcome out = Run(29, Reply(0x1D, image));
  EXPECT_EQ(out.done, 1);
  EXPECT_EQ(op.Buf.UDPReply_Get(29), 0xFF);
  EXPECT_EQ(op.Buf.UDPReply_Get(284), 0x00);
  std::string dump = "\n    KOVA EEPROM[256] =";
  for (int line = 0; line < 16; ++line) {
    dump += "\n    " + Hex(Bytes(image.begin() + line * 16, image.begin() + line * 16 + 16));
  }
  EXPECT_EQ(TracesFrom("\n    KOVA EEPROM[256] ="), dump + "\n    UDP Command ... Successful !");
  ASSERT_EQ(panel.answers.size(), 1u);
  EXPECT_EQ(panel.answers[0].first, BoardAnswer::kEeprom);
  EXPECT_EQ(panel.answers[0].second, image);
}

TEST_F(EepromTest, RemoteUpdateCommandsCompleteOnTheirAcknowledgement) {
  struct Case {
    int32_t op;
    uint8_t code;
    Bytes wire;
  };
  const Case cases[] = {
      {33, 0xF1, Concat({{0x00, 0x10, 0x81, 0xF1}, Text("REMOTE_ERASE")})},
      {35, 0xF3, Concat({{0x00, 0x11, 0x81, 0xF3}, Text("REMOTE_UPDATE")})},
      {36, 0xF4, Concat({{0x00, 0x17, 0x81, 0xF4}, Text("CHECK_REMOTE_UPDATE")})},
  };
  for (const Case& c : cases) {
    net->sent.clear();
    op.Countdown.Set(countdown::kRemoteFinish, 1200);
    EXPECT_EQ(Run(c.op, Reply(c.code, {0x06})).done, 1) << c.op;
    ASSERT_EQ(net->Sent().size(), 1u);
    EXPECT_EQ(net->Sent()[0].bytes, c.wire) << c.op;
  }
}

TEST_F(EepromTest, SendFileOpensWithoutTheSettleTimeAndCarriesItsBlock) {
  for (int i = 0; i < 73; ++i) {
    link.UDPCmdArgs[i] = static_cast<uint8_t>('0' + i % 10);
  }
  op.Progress = 42;
  const Outcome out = Run(34, Reply(0xF2, {0x06}));
  EXPECT_EQ(out.done, 1);
  EXPECT_EQ(op.Progress.load(), 42);
  EXPECT_LT(out.passes, 60) << "no 2 s settle time per block";
  ASSERT_EQ(net->Sent().size(), 1u);
  EXPECT_EQ(net->Sent()[0].bytes.size(), 86u);
}

TEST_F(EepromTest, LongWaitsShowTheirProgress) {
  // 33 and 35 over their own 600-tick window; 36 over the remote update's
  // 1200-tick countdown 0, which the requester loads.
  struct Case {
    int32_t op;
    int32_t countdown0;
    int ticks;
    int32_t progress;
  };
  const Case cases[] = {
      {33, 0, 300, 50}, {35, 0, 300, 50}, {35, 0, 599, 99}, {36, 1200, 60, 5}, {36, 600, 60, 55},
  };
  constexpr uint8_t kAwaitingReply = 8;
  for (const Case& c : cases) {
    op.Eeprom.Op = c.op;
    op.Eeprom.State = 1;
    for (int pass = 1; pass <= 1000; ++pass) {
      Pass();
      if (op.Eeprom.State == kAwaitingReply) {
        break;
      }
      if (pass % 10 == 0) {
        Tick();
      }
    }
    ASSERT_EQ(op.Eeprom.State, kAwaitingReply) << c.op;
    op.Countdown.Set(countdown::kRemoteFinish, c.countdown0);
    for (int tick = 0; tick < c.ticks; ++tick) {
      Tick();
      Pass();
    }
    EXPECT_EQ(op.Eeprom.State, kAwaitingReply) << c.op << " after " << c.ticks;
    EXPECT_EQ(op.Progress.load(), c.progress) << c.op << " after " << c.ticks;
    // Let it run out.
    for (int pass = 0; pass < 20000 && op.Eeprom.State != 0; ++pass) {
      Tick();
      Pass();
    }
    ASSERT_EQ(op.Eeprom.State, 0);
    EXPECT_EQ(op.Eeprom.Done, 0);
  }
}

TEST_F(EepromTest, UnsupportedRequestFailsAtOnceWithNothingSent) {
  for (int32_t request : {2, 3, 5, 7, 9, 12, 16, 37, -1, 0x120}) {
    panel.traces.clear();
    const Outcome out = Run(request);
    EXPECT_EQ(out.done, 0) << request;
    EXPECT_EQ(out.passes, 4) << request;
    EXPECT_EQ(panel.traces, (std::vector<std::string>{"\n    UDP Command ... Failed !"}))
        << request;
  }
  EXPECT_TRUE(net->opened.empty());
  EXPECT_TRUE(net->Sent().empty());
}

TEST_F(EepromTest, StaleAnswerOfAnEarlierExchangeDoesNotCompleteTheNextOne) {
  struct Case {
    int32_t op;
    int index;
  };
  for (const Case& c : {Case{1, 0}, Case{29, 28}, Case{31, 11}, Case{32, 10}, Case{34, 286}}) {
    op.Buf.UDPReply_Set(c.index, 1);
    EXPECT_EQ(Run(c.op).done, 0) << c.op;
  }
}

TEST_F(EepromTest, SocketThatCannotBeMadeOrUsedFailsTheRequest) {
  net->failOpen = true;
  EXPECT_EQ(Run(31, Reply(0x1F, Bytes(16, 'A'))).done, 0);
  EXPECT_TRUE(net->Sent().empty());
  net->failOpen = false;
  net->failSend = true;
  EXPECT_EQ(Run(31, Reply(0x1F, Bytes(16, 'A'))).done, 0);
  EXPECT_EQ(net->OpenCount(), 0);
}

}  // namespace
}  // namespace kova::test
