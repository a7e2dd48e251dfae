#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bytes.h"
#include "link_fixture.h"
#include "protocol/channels.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

// One channel seen through its request operations and its state.
struct Channel {
  const char* name;
  std::function<int(Link&)> create;
  std::function<uint8_t(const Link&)> state;
  std::function<bool(const Link&)> idle;
  std::function<int32_t(const Link&)> result;
  std::function<int(const Link&)> handle;
};

const Channel kBroadcast{
    "broadcast",
    [](Link& l) { return Broadcast_Create(l); },
    [](const Link& l) { return l.BroadcastState; },
    [](const Link& l) { return Broadcast_IsIdle(l); },
    [](const Link& l) { return Broadcast_Result(l); },
    [](const Link& l) { return l.BroadcastSocket.handle; },
};

const Channel kUDP{
    "udp",
    [](Link& l) { return UDP_Create(l, 5002, 0); },
    [](const Link& l) { return l.UDPState; },
    [](const Link& l) { return UDP_IsIdle(l); },
    [](const Link& l) { return UDP_Result(l); },
    [](const Link& l) { return l.UDPSocket.handle; },
};

class ChannelTest : public LinkTest {
 protected:
  ChannelTest() { link.NetStarted = 1; }

  // Runs passes, ticking every tenth, until the channel is idle; false if it
  // never got there.
  bool RunToIdle(const Channel& c, int maxPasses = 1000) {
    for (int pass = 1; pass <= maxPasses; ++pass) {
      Pass();
      if (c.idle(link)) {
        return true;
      }
      if (pass % 10 == 0) {
        Tick();
      }
    }
    return false;
  }

  void Open(const Channel& c) {
    ASSERT_EQ(c.create(link), 1) << c.name;
    ASSERT_TRUE(RunToIdle(c)) << c.name;
    ASSERT_EQ(c.result(link), 1) << c.name << ": the socket was not created";
  }
};

TEST_F(ChannelTest, CreateIsReportedOnlyAfterTheSettleTimeWithTheGaugeMoving) {
  for (const Channel* c : {&kBroadcast, &kUDP}) {
    // The remote update's index skips the wait on the UDP channel only.
    buf.UDPCmdIndex = (c == &kBroadcast) ? 34 : 31;
    progress = 77;
    ASSERT_EQ(c->create(link), 1) << c->name;
    Pass();  // accepted
    Pass();  // created
    Pass();  // settle armed
    EXPECT_TRUE(net->IsOpen(c->handle(link))) << c->name;
    Pass();
    EXPECT_EQ(progress.load(), 50) << c->name;
    for (int tick = 1; tick <= 20; ++tick) {
      Tick();
      Pass();
      ASSERT_FALSE(c->idle(link)) << c->name << " reported after " << tick << " ticks";
      EXPECT_EQ(progress.load(), tick < 10 ? 50 : 100) << c->name << " tick " << tick;
    }
    Pass();
    EXPECT_FALSE(c->idle(link)) << c->name;
    Pass();
    EXPECT_TRUE(c->idle(link)) << c->name;
    EXPECT_EQ(c->result(link), 1) << c->name;
    EXPECT_EQ(progress.load(), 100) << c->name;
  }
}

TEST_F(ChannelTest, UDPCreateForTheRemoteUpdateSkipsTheSettleTime) {
  buf.UDPCmdIndex = 34;
  progress = 37;
  ASSERT_EQ(UDP_Create(link, 5002, 0), 1);
  for (int pass = 1; pass <= 5; ++pass) {
    Pass();
    ASSERT_FALSE(UDP_IsIdle(link)) << "pass " << pass;
  }
  Pass();
  EXPECT_TRUE(UDP_IsIdle(link));
  EXPECT_EQ(UDP_Result(link), 1);
  EXPECT_EQ(progress.load(), 37);
  EXPECT_TRUE(net->IsOpen(link.UDPSocket.handle));
}

TEST_F(ChannelTest, FailedCreateReportsFailureWithoutTheSettleTime) {
  net->failOpen = true;
  for (const Channel* c : {&kBroadcast, &kUDP}) {
    progress = 37;
    ASSERT_EQ(c->create(link), 1);
    for (int pass = 0; pass < 4; ++pass) {
      Pass();
    }
    EXPECT_TRUE(c->idle(link)) << c->name;
    EXPECT_EQ(c->result(link), 0) << c->name;
    EXPECT_EQ(progress.load(), 37) << c->name;
  }
}

TEST_F(ChannelTest, SendsPutTheRequestedPacketOnTheWire) {
  const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF};
  struct Case {
    const char* what;
    const Channel* channel;
    std::function<void(Link&)> fill;
    int kind;  // UDP_Send kind; -1 for Broadcast_Send
    Bytes wire;
    UdpEndpoint to;
  };
  const UdpEndpoint everyone{{255, 255, 255, 255}, 5002};
  const UdpEndpoint board{{192, 168, 100, 2}, 5002};
  const Case cases[] = {
      {"broadcast row from the index's low byte", &kBroadcast,
       [&mac](Link& e) {
         e.Buf.BroadcastCmdIndex = 0x105;
         std::copy(mac, mac + 6, e.BroadcastCmdArgs);
       },
       -1, Concat({{0x00, 0x14, 0x80, 0x05}, Bytes(mac, mac + 6), Text("BOOTLOADER")}), everyone},
      {"command packet from the index's low byte", &kUDP,
       [](Link& e) { e.Buf.UDPCmdIndex = 0x204; }, 0,
       Concat({{0x00, 0x09, 0x81, 0x04}, Text("RESET")}), board},
      {"data packet as the caller wrote it",
       &kUDP,
       [](Link& e) {
         const uint8_t data[] = {0x00, 0x05, 0x81, 0x7E, 0x00};
         std::copy(data, data + 5, e.Buf.UDPPacket.get());
         e.Buf.UDPPacketLen = 5;
       },
       1,
       {0x00, 0x05, 0x81, 0x7E, 0x00},
       board},
      {"string packet", &kUDP, [](Link& e) { e.UDPSendText = "Synchronized\r\n"; }, 2,
       Text("Synchronized\r\n"), board},
  };
  Open(kBroadcast);
  Open(kUDP);
  for (const Case& c : cases) {
    net->sent.clear();
    c.fill(link);
    ASSERT_EQ(c.kind < 0 ? Broadcast_Send(link) : UDP_Send(link, c.kind), 1) << c.what;
    ASSERT_TRUE(RunToIdle(*c.channel)) << c.what;
    EXPECT_EQ(c.channel->result(link), 1) << c.what;
    const auto sent = net->Sent();
    ASSERT_EQ(sent.size(), 1u) << c.what;
    EXPECT_EQ(sent[0].bytes, c.wire) << c.what;
    EXPECT_EQ(sent[0].handle, c.channel->handle(link)) << c.what;
    EXPECT_EQ(sent[0].peer.ip, c.to.ip) << c.what;
    EXPECT_EQ(sent[0].peer.port, c.to.port) << c.what;
  }
}

TEST_F(ChannelTest, CommandWithoutAPacketFailsAfterTheRequestLineOnly) {
  struct Case {
    const Channel* channel;
    int32_t index;
    std::vector<std::string> traces;
  };
  const std::string bLine = "\n  Broadcast ... send a packet !";
  const std::string bExit = "\n  Broadcast_applay() ... exit !";
  const std::string uLine = "\n    UDP ... send a command packet !";
  const Case cases[] = {
      {&kBroadcast, 8, {bLine, bExit}},  // the closing row
      {&kBroadcast, 9, {bLine, bExit}}, {&kBroadcast, 0x3FF, {bLine, bExit}}, {&kUDP, 37, {uLine}},
      {&kUDP, 0x1FF, {uLine}},
  };
  Open(kBroadcast);
  Open(kUDP);
  for (const Case& c : cases) {
    panel.traces.clear();
    int posted = 0;
    if (c.channel == &kBroadcast) {
      buf.BroadcastCmdIndex = c.index;
      posted = Broadcast_Send(link);
    } else {
      buf.UDPCmdIndex = c.index;
      posted = UDP_Send(link, 0);
    }
    ASSERT_EQ(posted, 1);
    ASSERT_TRUE(RunToIdle(*c.channel));
    EXPECT_EQ(c.channel->result(link), 0) << c.channel->name << " index " << c.index;
    EXPECT_EQ(panel.traces, c.traces) << c.channel->name << " index " << c.index;
  }
  EXPECT_TRUE(net->Sent().empty());
}

TEST_F(ChannelTest, BusyChannelRefusesEveryRequestAndKeepsItsOwn) {
  using Request = std::function<int(Link&)>;
  const std::pair<const char*, Request> broadcastRequests[] = {
      {"create", Broadcast_Create}, {"send", Broadcast_Send}, {"close", Broadcast_Close}};
  const std::pair<const char*, Request> udpRequests[] = {
      {"create", [](Link& l) { return UDP_Create(l, 1234, 4321); }},
      {"send 0", [](Link& l) { return UDP_Send(l, 0); }},
      {"send 1", [](Link& l) { return UDP_Send(l, 1); }},
      {"send 2", [](Link& l) { return UDP_Send(l, 2); }},
      {"close", UDP_Close}};

  ASSERT_EQ(Broadcast_Close(link), 1);
  Pass();
  for (const auto& [name, request] : broadcastRequests) {
    EXPECT_EQ(request(link), 0) << name;
    EXPECT_EQ(link.BroadcastOp, 2) << name;
    EXPECT_EQ(link.BroadcastState, 2) << name;
  }

  ASSERT_EQ(UDP_Create(link, 5002, 0), 1);
  Pass();
  for (const auto& [name, request] : udpRequests) {
    EXPECT_EQ(request(link), 0) << name;
    EXPECT_EQ(link.UDPOp, 0) << name;
    EXPECT_EQ(link.UDPState, 2) << name;
    EXPECT_EQ(link.UDPRemotePort, 5002) << name;
    EXPECT_EQ(link.UDPLocalPort, 0) << name;
  }
}

TEST_F(ChannelTest, UDPSendOfAnUnknownKindIsRefused) {
  link.UDPOp = 1;
  for (int kind : {3, 4, -1}) {
    EXPECT_EQ(UDP_Send(link, kind), 0) << kind;
    EXPECT_EQ(link.UDPState, 0) << kind;
    EXPECT_EQ(link.UDPOp, 1) << kind;
  }
}

TEST_F(ChannelTest, EveryLineIsATraceAndOnlyTheBroadcastChannelSaysExit) {
  ASSERT_EQ(Broadcast_Close(link), 1);
  for (int pass = 0; pass < 4; ++pass) {
    Pass();
  }
  EXPECT_TRUE(Broadcast_IsIdle(link));
  EXPECT_EQ(Broadcast_Result(link), 1);
  EXPECT_EQ(log.MsgText, "\n  Broadcast_applay() ... exit !");

  ASSERT_EQ(UDP_Close(link), 1);
  for (int pass = 0; pass < 4; ++pass) {
    Pass();
  }
  EXPECT_TRUE(UDP_IsIdle(link));
  EXPECT_EQ(UDP_Result(link), 1);
  EXPECT_EQ(log.MsgText, "\n    UDP ... close !");
  EXPECT_EQ(panel.list, "");
  EXPECT_EQ(panel.traces, (std::vector<std::string>{"\n  Broadcast ... close !",
                                                    "\n  Broadcast_applay() ... exit !",
                                                    "\n    UDP ... close !"}));
}

TEST_F(ChannelTest, OperationWithoutARowFails) {
  struct Case {
    const Channel* channel;
    int32_t op;
    const char* line;
  };
  const Case cases[] = {
      {&kBroadcast, 3, "\n  Broadcast ... unknown !"},
      {&kBroadcast, -1, "\n  Broadcast ... unknown !"},
      {&kUDP, 5, "\n  UDP ... unknown !"},
      {&kUDP, -1, "\n  UDP ... unknown !"},
  };
  for (const Case& c : cases) {
    panel.traces.clear();
    if (c.channel == &kBroadcast) {
      link.BroadcastOp = c.op;
      link.BroadcastState = 1;
    } else {
      link.UDPOp = c.op;
      link.UDPState = 1;
    }
    ASSERT_TRUE(RunToIdle(*c.channel, 4));
    EXPECT_EQ(c.channel->result(link), 0) << c.line;
    ASSERT_FALSE(panel.traces.empty());
    EXPECT_EQ(panel.traces[0], c.line);
  }
}

TEST_F(ChannelTest, StringPacketCountsOnlyWhenItLeft) {
  struct Case {
    const char* what;
    std::string text;
    bool failSend;
    int32_t result;
  };
  const Case cases[] = {
      {"sent", "?", false, 1},
      {"send failed", "?", true, 0},
      {"empty text", "", false, 0},
  };
  Open(kUDP);
  for (const Case& c : cases) {
    net->failSend = c.failSend;
    link.UDPSendText = c.text;
    ASSERT_EQ(UDP_Send(link, 2), 1) << c.what;
    ASSERT_TRUE(RunToIdle(kUDP)) << c.what;
    EXPECT_EQ(UDP_Result(link), c.result) << c.what;
  }
  ASSERT_EQ(net->Sent().size(), 1u);
  EXPECT_EQ(net->Sent()[0].bytes, Text("?"));
}

TEST_F(ChannelTest, UDPOpChoosesHowReceivedBytesAreRead) {
  const Bytes ack = {0x00, 0x05, 0x81, 0x20, 0x06};  // SET_MODELNAME acknowledged
  const Bytes line = Text("OK\r\n");
  struct Case {
    int32_t op;
    const Bytes* datagram;
    bool frameTaken;  // UDPReply[10] set
    bool lineTaken;   // text decoder completed
  };
  const Case cases[] = {
      {0, &ack, false, false}, {4, &ack, false, false},  {1, &ack, true, false},
      {2, &ack, false, false}, {1, &line, false, false}, {2, &line, false, true},
      {3, &line, false, true},
  };
  Open(kUDP);
  const uint8_t request = 0;
  ASSERT_EQ(link.UDPSocket_Send(&request, 1), 1);  // answers may come now
  for (const Case& c : cases) {
    link.UDPOp = c.op;
    buf.UDPReply_Set(10, 0);
    link.UDPMsgDone = 0;
    link.UDPMsgState = 0;
    UDP_RecvMsgStart(link);
    const uint16_t readBefore = buf.UDPRxRead.load();
    net->Deliver(link.UDPSocket.handle, *c.datagram);
    for (int pass = 0; pass < 40; ++pass) {
      Pass();
    }
    EXPECT_EQ(buf.UDPReply_Get(10), c.frameTaken ? 1 : 0) << "op " << c.op;
    EXPECT_EQ(link.UDPMsgDone, c.lineTaken ? 1 : 0) << "op " << c.op;
    if (c.op == 0 || c.op == 4) {
      EXPECT_EQ(buf.UDPRxRead.load(), readBefore) << "op " << c.op << " read the ring";
    }
    // Start the next case on an empty ring.
    buf.UDPRxRead.store(buf.UDPRxWrite.load());
    link.UDPDecodeState = 0;
  }
}

TEST_F(ChannelTest, BroadcastRepliesAreDecodedWhileTheChannelIsIdle) {
  Open(kBroadcast);
  const uint8_t request = 0;
  ASSERT_EQ(link.BroadcastSocket_Send(&request, 1), 1);
  buf.DeviceRecord_Set(10, 0);
  net->Deliver(link.BroadcastSocket.handle, {0x00, 0x05, 0x80, 0x05, 0x06});
  for (int pass = 0; pass < 20; ++pass) {
    Pass();
  }
  EXPECT_TRUE(Broadcast_IsIdle(link));
  EXPECT_EQ(buf.DeviceRecord_Get(10), 1);
}

}  // namespace
}  // namespace kova::test
