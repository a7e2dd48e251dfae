#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"
#include "common/format.h"
#include "link_fixture.h"
#include "protocol/receive_path.h"
#include "protocol/rx_ring.h"

namespace kova::test {
namespace {

// A model name as a board sends it: 16 bytes, zero-filled.
Bytes ModelName(const std::string& name) {
  Bytes bytes(16, 0);
  std::copy(name.begin(), name.end(), bytes.begin());
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string UDPFrameTrace(const Bytes& frame) {
  return Format("\n    UDP_RecvDecode(%zu=%zu) = ", frame.size(), frame.size()) +
         Dump(frame, "\n      ");
}

std::string BroadcastFrameTrace(const Bytes& frame) {
  return Format("\nBoradcast_RecvDecode(%zu) = ", frame.size()) + Dump(frame, "\n  ");
}

std::string LineTrace(const Bytes& line) {
  return Format("\n    UDP_RecvMsgDecode(%zu) = ", line.size()) + Dump(line, "\n      ");
}

class DecoderTest : public LinkTest {
 protected:
  void Deliver(Ring ring, const Bytes& datagram) {
    ASSERT_TRUE(RingAppend(buf, ring, datagram.data(), static_cast<int>(datagram.size())));
  }

  void Step(void (*decoder)(Link&), int steps) {
    for (int i = 0; i < steps; ++i) {
      decoder(link);
    }
  }

  std::string Traces() const {
    std::string all;
    for (const std::string& t : panel.traces) {
      all += t;
    }
    return all;
  }
};

// Enough steps for every scenario below to be read to its end.
constexpr int kManySteps = 6000;

struct FrameScenario {
  const char* name;
  std::vector<Bytes> datagrams;
  std::string traces;  // the frames decoded and the frames dropped, in order
};

TEST_F(DecoderTest, UDPFrameDecoderFindsEveryFrameBehindItsMarker) {
  const Bytes ack = Frame(0x81, 0x20, {0x06});
  const Bytes name = Frame(0x81, 0x1F, ModelName("QX-204"));
  const Bytes percent = Frame(0x81, 0x1F, ModelName("%%%%"));
  const Bytes largest = Frame(0x81, 0x1D, Counting(1020, 0x30));
  const Bytes splitHead = {0x00, 0x14, 0x81, 0x1F, 'A', 'B'};
  const Bytes splitTail = Text("CDEFGHIJKLMNOP");

  const std::vector<FrameScenario> scenarios = {
      {"bytes between a frame's end and the next marker are skipped",
       {Concat(ack, {0xEE, 0xEF}), name},
       UDPFrameTrace(ack) + UDPFrameTrace(name)},
      {"a frame is never completed from the next datagram",
       {splitHead, splitTail, ack},
       "\n    UDP_RecvDecode(20) ... dropped !\n    UDP_RecvDecode(17220) ... dropped !" +
           UDPFrameTrace(ack)},
      {"a short head claiming 1024 bytes does not swallow the reply behind it",
       {{0x04, 0x00, 0x80, 0x01}, name},
       "\n    UDP_RecvDecode(1024) ... dropped !" + UDPFrameTrace(name)},
      {"a datagram that ends inside the length field",
       {{0x00}, ack},
       "\n    UDP_RecvDecode(0) ... dropped !" + UDPFrameTrace(ack)},
      {"an empty datagram", {{}, ack}, UDPFrameTrace(ack)},
      {"0x25 inside a frame is data", {percent, ack}, UDPFrameTrace(percent) + UDPFrameTrace(ack)},
      {"what looks like a second frame behind the first in its datagram is skipped",
       {Concat(ack, Concat({0x25}, name)), ack},
       UDPFrameTrace(ack) + UDPFrameTrace(ack)},
      {"a text line where a frame was expected",
       {Text("OK\r\n"), ack},
       "\n    UDP_RecvDecode(20299) ... dropped !" + UDPFrameTrace(ack)},
      {"length field below 4",
       {{0x00, 0x03, 0x81, 0x20}, ack},
       "\n    UDP_RecvDecode(3) ... dropped !" + UDPFrameTrace(ack)},
      {"length field 0",
       {{0x00, 0x00}, ack},
       "\n    UDP_RecvDecode(0) ... dropped !" + UDPFrameTrace(ack)},
      {"length field above 1024",
       {Concat({0x04, 0x01, 0x81, 0x1D}, Counting(40, 0x40)), ack},
       "\n    UDP_RecvDecode(1025) ... dropped !" + UDPFrameTrace(ack)},
      {"length field 65535",
       {{0xFF, 0xFF, 0x81, 0x1D}, name},
       "\n    UDP_RecvDecode(65535) ... dropped !" + UDPFrameTrace(name)},
      {"a frame of exactly 1024 bytes",
       {largest, ack},
       UDPFrameTrace(largest) + UDPFrameTrace(ack)},
  };
  for (const FrameScenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    link.UDPDecodeState = 0;
    panel.traces.clear();
    for (const Bytes& d : s.datagrams) {
      Deliver(Ring::kUDP, d);
    }
    Step(UDP_RecvDecode, kManySteps);
    EXPECT_EQ(Traces(), s.traces);
    EXPECT_FALSE(UDP_RxAvailable(link));
  }
}

TEST_F(DecoderTest, UDPFrameDecoderTakesTheBodyOfAFrameInOneStep) {
  Deliver(Ring::kUDP, Concat({0x00, 0x05, 0x81, 0x20, 0x06}, Bytes(600, 0xEE)));
  // 0 -> 1, the marker, the two length bytes, the body: the handler runs on
  // the sixth step, whatever the frame's size.
  Step(UDP_RecvDecode, 5);
  EXPECT_EQ(buf.UDPReply_Get(10), 0);
  EXPECT_TRUE(panel.traces.empty());
  Step(UDP_RecvDecode, 1);
  EXPECT_EQ(buf.UDPReply_Get(10), 1);
  EXPECT_EQ(Traces(), "\n    UDP_RecvDecode(5=5) = \n      00 05 81 20 06 ");
  EXPECT_EQ(panel.traces.size(), 6u) << "one message per byte";

  // Three more steps before it looks for the next marker.
  const uint8_t expected[] = {STEP_OK, STEP_END, 0, 1};
  for (uint8_t state : expected) {
    EXPECT_EQ(link.UDPDecodeState, state);
    UDP_RecvDecode(link);
  }
}

TEST_F(DecoderTest, UDPFrameDecoderFillsTheEepromFromA260ByteFrame) {
  const Bytes eeprom = Counting(256, 0x00);
  const Bytes frame = Frame(0x81, 0x1D, eeprom);
  ASSERT_EQ(frame.size(), 260u);
  Deliver(Ring::kUDP, frame);
  Step(UDP_RecvDecode, 6);
  EXPECT_EQ(buf.UDPReply_Get(28), 1);
  for (int i = 0; i < 256; ++i) {
    ASSERT_EQ(buf.UDPReply_Get(29 + i), eeprom[i]) << "byte " << i;
  }
  EXPECT_EQ(buf.UDPReply_Get(285), 0);
  EXPECT_EQ(Traces(), UDPFrameTrace(frame));
}

TEST_F(DecoderTest, BroadcastFrameDecoderTracesWithItsOwnIndent) {
  deviceMAC[0] = 0x00;
  const Bytes version = Frame(0x80, 0x01, {0x01, 0x07});
  const Bytes record = Frame(0x80, 0x07, Counting(14, 0xA0));
  // A frame for no table is traced and ignored; a length of 0x1234 is dropped.
  Deliver(Ring::kBroadcast, Concat(Frame(0xFF, 0xFF, {}), {0x00}));
  Deliver(Ring::kBroadcast, {0x12, 0x34, 0x80, 0x01});
  Deliver(Ring::kBroadcast, version);
  Deliver(Ring::kBroadcast, record);
  Step(Boradcast_RecvDecode, 200);
  EXPECT_EQ(Traces(), BroadcastFrameTrace(Frame(0xFF, 0xFF, {})) +
                          "\nBoradcast_RecvDecode(4660) ... dropped !" +
                          BroadcastFrameTrace(version) + BroadcastFrameTrace(record));
  EXPECT_NE(Traces().find("\n  00 12 80 07 A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB \n  AC AD "),
            std::string::npos);
  EXPECT_EQ(buf.DeviceRecord_Get(4), 1);
  EXPECT_EQ(buf.DeviceRecord_Get(5), 0x01);
  EXPECT_EQ(buf.DeviceRecord_Get(6), 0x07);
  EXPECT_EQ(buf.DeviceRecord_Get(15), 0xA0);
  EXPECT_EQ(buf.DeviceRecord_Get(28), 0xAD);
  EXPECT_FALSE(RingAvailable(buf, Ring::kBroadcast));
}

TEST_F(DecoderTest, StateWithoutARowLeadsBackToZero) {
  for (uint8_t* state : {&link.BroadcastDecodeState, &link.UDPDecodeState, &link.UDPMsgState}) {
    *state = 0x42;
  }
  Boradcast_RecvDecode(link);
  UDP_RecvDecode(link);
  UDP_RecvMsgDecode(link);
  EXPECT_EQ(link.BroadcastDecodeState, 0);
  EXPECT_EQ(link.UDPDecodeState, 0);
  EXPECT_EQ(link.UDPMsgState, 0);
}

struct LineScenario {
  const char* name;
  std::vector<Bytes> datagrams;
  Bytes line;
  std::string dropTrace;  // before the line's own trace
};

TEST_F(DecoderTest, TextDecoderAssemblesOneLineEndingInCRLF) {
  const Bytes exact = Concat(Bytes(1022, 'a'), Text("\r\n"));
  const std::vector<LineScenario> scenarios = {
      {"one datagram", {Text("OK\r\n")}, Text("OK\r\n"), ""},
      {"a line is never completed from the next datagram",
       {Text("Synchro"), Text("nized\r\n")},
       Text("nized\r\n"),
       "\n    UDP_RecvMsgDecode(7) ... dropped !"},
      {"CR without LF drops the line",
       {Text("A\rB"), Text("C\r\n")},
       Text("C\r\n"),
       "\n    UDP_RecvMsgDecode(3) ... dropped !"},
      {"a datagram ending in CR",
       {Text("AB\r"), Text("OK\r\n")},
       Text("OK\r\n"),
       "\n    UDP_RecvMsgDecode(3) ... dropped !"},
      {"an empty datagram", {{}, Text("OK\r\n")}, Text("OK\r\n"), ""},
      {"0x25 in a line is text", {Text("%0%\r\n")}, Text("%0%\r\n"), ""},
      {"a line of exactly 1024 bytes", {exact}, exact, ""},
      {"a line over 1024 bytes is dropped, the next one is read",
       {Bytes(1100, 'a'), Text("OK\r\n")},
       Text("OK\r\n"),
       "\n    UDP_RecvMsgDecode(1025) ... dropped !"},
  };
  for (const LineScenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    panel.traces.clear();
    for (const Bytes& d : s.datagrams) {
      Deliver(Ring::kUDP, d);
    }
    UDP_RecvMsgStart(link);
    for (int i = 0; i < kManySteps && !(UDP_RecvMsgIsIdle(link)); ++i) {
      UDP_RecvMsgDecode(link);
    }
    ASSERT_TRUE(UDP_RecvMsgIsIdle(link));
    EXPECT_EQ(UDP_RecvMsgResult(link), 1);
    ASSERT_EQ(buf.UDPMessageLen, static_cast<int32_t>(s.line.size()));
    EXPECT_EQ(Bytes(buf.UDPMessage.get(), buf.UDPMessage.get() + s.line.size()), s.line);
    EXPECT_EQ(Traces(), s.dropTrace + LineTrace(s.line));
    EXPECT_FALSE(UDP_RxAvailable(link));
  }
}

// Only the first line of a datagram is read: an echo and its answer in one
// datagram give the echo, and the next reception starts at the next datagram.
TEST_F(DecoderTest, TextDecoderReadsTheFirstLineOfEachDatagram) {
  Deliver(Ring::kUDP, Text("U 23130\r\n0\r\n"));
  Deliver(Ring::kUDP, Text("OK\r\n"));
  for (const char* expected : {"U 23130\r\n", "OK\r\n"}) {
    UDP_RecvMsgStart(link);
    for (int i = 0; i < kManySteps && !UDP_RecvMsgIsIdle(link); ++i) {
      UDP_RecvMsgDecode(link);
    }
    EXPECT_EQ(UDP_RecvMsgResult(link), 1);
    EXPECT_EQ(std::string(buf.UDPMessage.get(), buf.UDPMessage.get() + buf.UDPMessageLen),
              expected);
  }
}

TEST_F(DecoderTest, TextDecoderWaitsIdleUntilArmedAndEndsInThreeSteps) {
  Deliver(Ring::kUDP, Text("OK\r\n"));
  Step(UDP_RecvMsgDecode, 20);
  EXPECT_TRUE(UDP_RxAvailable(link)) << "an idle decoder leaves the bytes in the ring";

  link.UDPMsgDone = 1;
  UDP_RecvMsgStart(link);
  EXPECT_FALSE(UDP_RecvMsgIsIdle(link));
  UDP_RecvMsgDecode(link);
  EXPECT_EQ(UDP_RecvMsgResult(link), 0) << "arming clears the last result";
  Step(UDP_RecvMsgDecode, 1);  // the marker
  UDP_RecvMsgStart(link);      // busy: ignored
  EXPECT_EQ(link.UDPMsgState, 3);
  Step(UDP_RecvMsgDecode, 1);  // "OK" and the CR at once
  EXPECT_EQ(link.UDPMsgState, 4);
  Step(UDP_RecvMsgDecode, 1);  // LF
  EXPECT_EQ(link.UDPMsgState, 5);
  EXPECT_TRUE(panel.traces.empty());
  UDP_RecvMsgDecode(link);
  EXPECT_EQ(Traces(), "\n    UDP_RecvMsgDecode(4) = \n      4F 4B 0D 0A ");
  EXPECT_EQ(UDP_RecvMsgResult(link), 0);
  UDP_RecvMsgDecode(link);
  EXPECT_EQ(UDP_RecvMsgResult(link), 1);
  EXPECT_FALSE(UDP_RecvMsgIsIdle(link));
  UDP_RecvMsgDecode(link);
  EXPECT_TRUE(UDP_RecvMsgIsIdle(link));
}

// --- Reply handlers ---------------------------------------------------------

struct HandlerCase {
  const char* name;
  Bytes frame;
  int length;                              // passed to the handler; -1: the frame's size
  std::vector<std::pair<int, int>> marks;  // record bytes the frame sets
  int ethReqAnswered;
  int e2pReadAnswered;
};

constexpr uint8_t kMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

// An "ETH_REQ" answer: 17 bytes of board data, its MAC at 21, its address at 27.
Bytes EthReqAnswer(const uint8_t* mac) {
  Bytes payload = Counting(17, 0x60);
  payload.insert(payload.end(), mac, mac + 6);
  const Bytes ip = {192, 168, 100, 2};
  payload.insert(payload.end(), ip.begin(), ip.end());
  return Frame(0x80, 0x00, payload);
}

using Marks = std::vector<std::pair<int, int>>;

Marks Plus(Marks a, const Marks& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Marks BytesAt(int at, const Bytes& bytes) {
  Marks marks;
  for (size_t i = 0; i < bytes.size(); ++i) {
    marks.push_back({at + static_cast<int>(i), bytes[i]});
  }
  return marks;
}

TEST_F(DecoderTest, BroadcastReplyHandlerAppliesOnlyWholeRows) {
  const uint8_t otherMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
  const Bytes eeprom300 = Counting(300, 0x00);
  const Bytes ethReq = EthReqAnswer(kMac);
  const std::vector<HandlerCase> cases = {
      {"ETH_REQ for our MAC", ethReq, -1, BytesAt(0, {192, 168, 100, 2}), 1, 0},
      {"ETH_REQ for another MAC", EthReqAnswer(otherMac), -1, {}, 0, 0},
      {"ETH_REQ one byte short", ethReq, 30, {}, 0, 0},
      {"FWVER_REQ of 6 bytes", Frame(0x80, 0x01, {0x01, 0x07}), -1, {{4, 1}, {5, 1}, {6, 7}}, 0, 0},
      {"FWVER_REQ of 7 bytes", Frame(0x80, 0x01, {0x01, 0x07, 0x00}), -1, {}, 0, 0},
      {"SET_DHCPMODE ack", Frame(0x80, 0x02, {0x06}), -1, {{7, 1}}, 0, 0},
      {"SET_IPADR ack", Frame(0x80, 0x03, {0x06}), -1, {{8, 1}}, 0, 0},
      {"RESET ack", Frame(0x80, 0x04, {0x06}), -1, {{9, 1}}, 0, 0},
      {"BOOTLOADER ack", Frame(0x80, 0x05, {0x06}), -1, {{10, 1}}, 0, 0},
      {"E2P_DEFAULT ack", Frame(0x80, 0x06, {0x06}), -1, {{11, 1}}, 0, 0},
      {"E2P_DEFAULT negative ack", Frame(0x80, 0x06, {0x15}), -1, {}, 0, 0},
      {"BOOTLOADER without a payload byte", Frame(0x80, 0x05, {0x06}), 4, {}, 0, 0},
      {"E2P_READ", Frame(0x80, 0x07, {0xAA, 0x55, 0xFF}), -1, BytesAt(15, {0xAA, 0x55, 0xFF}), 0,
       1},
      {"E2P_READ cut at the record's end", Frame(0x80, 0x07, eeprom300), -1,
       BytesAt(15, Bytes(eeprom300.begin(), eeprom300.begin() + 241)), 0, 1},
      {"E2P_READ without a payload", Frame(0x80, 0x07, {0xAA}), 4, {}, 0, 0},
      {"code above 7", Frame(0x80, 0x08, {0x06}), -1, {}, 0, 0},
      {"a unicast reply", Frame(0x81, 0x04, {0x06}), -1, {}, 0, 0},
  };
  for (const HandlerCase& c : cases) {
    SCOPED_TRACE(c.name);
    buf.AllocSharedBuffers();
    link.EthReqAnswered = 0;
    link.E2pReadAnswered = 0;
    std::copy(kMac, kMac + 6, deviceMAC);
    const int length = c.length < 0 ? static_cast<int>(c.frame.size()) : c.length;
    Broadcast_ReplyHandle(link, c.frame.data(), length);

    Bytes expected(SharedBuffers::kDeviceRecordSize, 0);
    for (const auto& [index, value] : c.marks) {
      expected[index] = static_cast<uint8_t>(value);
    }
    const uint8_t* record = buf.DeviceRecord.get();
    EXPECT_EQ(Bytes(record, record + SharedBuffers::kDeviceRecordSize), expected);
    EXPECT_EQ(link.EthReqAnswered, c.ethReqAnswered);
    EXPECT_EQ(link.E2pReadAnswered, c.e2pReadAnswered);
  }
}

TEST_F(DecoderTest, UDPReplyHandlerAppliesOnlyWholeRows) {
  const Bytes name = ModelName("QX-204");
  ASSERT_EQ(name.size(), 16u);
  const Bytes eeprom = Counting(256, 0x10);
  const std::vector<HandlerCase> cases = {
      {"SET_MODELNAME ack", Frame(0x81, 0x20, {0x06}), -1, {{10, 1}}, 0, 0},
      {"SET_MODELNAME of 6 bytes", Frame(0x81, 0x20, {0x06, 0x00}), -1, {}, 0, 0},
      {"SET_MODELNAME negative ack", Frame(0x81, 0x20, {0x15}), -1, {}, 0, 0},
      {"GET_MODELNAME of 20 bytes", Frame(0x81, 0x1F, name), -1, Plus(BytesAt(12, name), {{11, 1}}),
       0, 0},
      {"GET_MODELNAME of 21 bytes", Frame(0x81, 0x1F, Concat(name, {0x00})), -1, {}, 0, 0},
      {"GET_E2P256 of 260 bytes", Frame(0x81, 0x1D, eeprom), -1,
       Plus(BytesAt(29, eeprom), {{28, 1}}), 0, 0},
      {"GET_E2P256 one byte short",
       Frame(0x81, 0x1D, Bytes(eeprom.begin(), eeprom.end() - 1)),
       -1,
       {},
       0,
       0},
      {"REMOTE_ERASE ack", Frame(0x81, 0xF1, {0x06}), -1, {{286, 1}}, 0, 0},
      {"SEND_FILE ack", Frame(0x81, 0xF2, {0x06}), -1, {{286, 1}}, 0, 0},
      {"REMOTE_UPDATE ack", Frame(0x81, 0xF3, {0x06}), -1, {{286, 1}}, 0, 0},
      {"CHECK_REMOTE_UPDATE ack", Frame(0x81, 0xF4, {0x06, 0x01}), -1, {{286, 1}}, 0, 0},
      {"CHECK_REMOTE_UPDATE without a payload byte", Frame(0x81, 0xF4, {0x06}), 4, {}, 0, 0},
      {"a broadcast reply", Frame(0x80, 0x20, {0x06}), -1, {}, 0, 0},
      {"a code without a row", Frame(0x81, 0x04, {0x06}), -1, {}, 0, 0},
  };
  for (const HandlerCase& c : cases) {
    SCOPED_TRACE(c.name);
    buf.AllocSharedBuffers();
    const int length = c.length < 0 ? static_cast<int>(c.frame.size()) : c.length;
    UDP_ReplyHandle(link, c.frame.data(), length);

    Bytes expected(SharedBuffers::kUDPReplySize, 0);
    for (const auto& [index, value] : c.marks) {
      expected[index] = static_cast<uint8_t>(value);
    }
    const uint8_t* reply = buf.UDPReply.get();
    EXPECT_EQ(Bytes(reply, reply + SharedBuffers::kUDPReplySize), expected);
  }
}

}  // namespace
}  // namespace kova::test
