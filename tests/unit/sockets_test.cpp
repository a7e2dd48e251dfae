#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "link_fixture.h"
#include "protocol/channels.h"
#include "protocol/receive_path.h"
#include "protocol/rx_ring.h"

namespace kova::test {
namespace {

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const std::string& p : pieces) {
    all += p;
  }
  return all;
}

// The dump as an operator reads it: a new line every 16 bytes.
std::string Dump(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof(pair), "%02X ", bytes[i]);
    text += (i % 16 == 0 ? "\n      " : "") + std::string(pair);
  }
  return text;
}

class SocketsTest : public LinkTest {
 protected:
  SocketsTest() { link.Net_Startup(); }

  int LastHandle() const { return net->opened.back(); }
};

// What a case may change before a create.
struct CreateSetup {
  Link& link;
  std::atomic<int32_t>& interfaceSel;
  std::atomic<int32_t>& interfaceCount;
  FakeNet& net;
};

struct CreateCase {
  const char* name;
  std::function<void(CreateSetup&)> arrange;
};

// Every refusal: the create logs "Failed !" and leaves no socket behind.
TEST_F(SocketsTest, CreateIsRefusedUnlessTheNetworkAndAnInterfaceAreThere) {
  const std::vector<CreateCase> cases = {
      {"network not started", [](CreateSetup& s) { s.link.NetStarted = 0; }},
      {"no interface selected", [](CreateSetup& s) { s.interfaceSel = -1; }},
      // The UDP client does not look at the count as such, but a selection
      // needs a list to point into.
      {"empty interface list", [](CreateSetup& s) { s.interfaceCount = 0; }},
      {"selection past the list", [](CreateSetup& s) { s.interfaceSel = 1; }},
      {"selection past the table",
       [](CreateSetup& s) {
         s.interfaceCount = 500;
         s.interfaceSel = 300;
       }},
      {"platform cannot make it", [](CreateSetup& s) { s.net.failOpen = true; }},
  };
  for (const CreateCase& c : cases) {
    for (bool broadcast : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (broadcast ? " / broadcast" : " / udp"));
      link.NetStarted = 1;
      interfaceCount = 1;
      interfaceSel = 0;
      net->failOpen = false;
      CreateSetup setup{link, interfaceSel, interfaceCount, *net};
      c.arrange(setup);
      panel.traces.clear();
      const int result = broadcast ? link.BroadcastSocket_Create()
                                   : link.UDPSocket_Create(kBoardCommandPort, 5003);
      EXPECT_EQ(result, 0);
      EXPECT_EQ(net->OpenCount(), 0);
      EXPECT_FALSE(broadcast ? link.BroadcastSocket.open : link.UDPSocket.open);
      EXPECT_EQ(Joined(panel.traces), broadcast
                                          ? "\n    Broadcast Socket(Client) create ... Failed !"
                                          : "\n    UDP client create ... Failed !");
    }
  }
}

TEST_F(SocketsTest, BroadcastSocketIsTiedToTheChosenInterface) {
  ASSERT_EQ(link.BroadcastSocket_Create(), 1);
  const UdpSocketSpec spec = net->SpecOf(LastHandle());
  EXPECT_EQ(spec.device, "eth1");
  EXPECT_EQ(spec.local.ip, (std::array<uint8_t, 4>{192, 168, 100, 1}));
  EXPECT_EQ(spec.local.port, 0);
  EXPECT_TRUE(spec.broadcast);
  EXPECT_EQ(spec.timeoutMs, 0);
  EXPECT_EQ(Joined(panel.traces), "\n    Broadcast Socket(Client) create ... Successful !");
  EXPECT_EQ(log.MsgText, "Successful !");

  const uint8_t packet[] = {0x00, 0x05, 0x80, 0x00, 0x45};
  ASSERT_EQ(link.BroadcastSocket_Send(packet, 5), 1);
  const FakeNet::Datagram sent = net->Sent().back();
  EXPECT_EQ(sent.peer.ip, (std::array<uint8_t, 4>{255, 255, 255, 255}));
  EXPECT_EQ(sent.peer.port, 5002);
}

TEST_F(SocketsTest, UDPClientGoesToTheBoardWithOneSecondTimeOuts) {
  ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
  const UdpSocketSpec spec = net->SpecOf(LastHandle());
  EXPECT_EQ(spec.device, "eth1");
  EXPECT_EQ(spec.local.ip, (std::array<uint8_t, 4>{192, 168, 100, 1}));
  EXPECT_EQ(spec.local.port, 5003);
  EXPECT_FALSE(spec.broadcast);
  EXPECT_EQ(spec.timeoutMs, 1000);
  EXPECT_EQ(Joined(panel.traces), "\n    UDP client create ... Successful !");

  const uint8_t packet[] = {0x00, 0x05, 0x81, 0x1F, 0x00};
  ASSERT_EQ(link.UDPSocket_Send(packet, 5), 1);
  EXPECT_EQ(net->Sent().back().peer.ip, (std::array<uint8_t, 4>{192, 168, 100, 2}));
  EXPECT_EQ(net->Sent().back().peer.port, 5002);
}

TEST_F(SocketsTest, SecondCreateFailsAndTheFirstSocketStaysUsable) {
  ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
  const int first = LastHandle();
  panel.traces.clear();
  EXPECT_EQ(link.UDPSocket_Create(5002, 5004), 0);
  EXPECT_EQ(Joined(panel.traces), "\n    UDP client create ... Failed !");
  EXPECT_EQ(net->opened.size(), 1u);

  const uint8_t byte = 0x42;
  ASSERT_EQ(link.UDPSocket_Send(&byte, 1), 1);
  EXPECT_EQ(net->Sent().back().handle, first);
}

struct DumpCase {
  const char* name;
  bool broadcast;
  std::vector<uint8_t> bytes;
  std::string expected;
};

TEST_F(SocketsTest, EverySentPacketIsTracedAsAHexDump) {
  std::vector<uint8_t> seventeen;
  for (int i = 0; i < 17; ++i) {
    seventeen.push_back(static_cast<uint8_t>(0xA0 + i));
  }
  const std::vector<DumpCase> cases = {
      {"RESET command packet",
       false,
       {0x00, 0x09, 0x81, 0x04, 0x52, 0x45, 0x53, 0x45, 0x54},
       "\n    UDPSocket_Send(9) = \n      00 09 81 04 52 45 53 45 54 "},
      {"17 bytes take two lines", true, seventeen,
       "\n    BroadcastSocket_Send(17) = \n      A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF "
       "\n      B0 "},
  };
  ASSERT_EQ(link.BroadcastSocket_Create(), 1);
  ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
  for (const DumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    panel.traces.clear();
    const int size = static_cast<int>(c.bytes.size());
    const int result = c.broadcast ? link.BroadcastSocket_Send(c.bytes.data(), size)
                                   : link.UDPSocket_Send(c.bytes.data(), size);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Joined(panel.traces), c.expected);
    // One message per byte, behind the header.
    EXPECT_EQ(panel.traces.size(), c.bytes.size() + 1);
    EXPECT_EQ(net->Sent().back().bytes, c.bytes);
    EXPECT_TRUE(panel.list.empty());
  }
}

TEST_F(SocketsTest, RefusedSendsAreSilentAndFailedSendsReportZero) {
  const uint8_t packet[] = {0x00, 0x04, 0x81, 0x00};
  EXPECT_EQ(link.UDPSocket_Send(packet, 4), 0) << "socket not open";
  EXPECT_EQ(link.BroadcastSocket_Send(packet, 4), 0) << "socket not open";
  EXPECT_TRUE(panel.traces.empty());

  ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
  ASSERT_EQ(link.BroadcastSocket_Create(), 1);
  panel.traces.clear();
  EXPECT_EQ(link.UDPSocket_Send(packet, 0), 0);
  EXPECT_EQ(link.BroadcastSocket_Send(packet, 0), 0);
  EXPECT_EQ(link.UDPSocket_Send(packet, -3), 0);
  EXPECT_TRUE(panel.traces.empty());
  EXPECT_TRUE(net->Sent().empty());

  net->failSend = true;
  EXPECT_EQ(link.UDPSocket_Send(packet, 4), 0);
  EXPECT_EQ(link.BroadcastSocket_Send(packet, 4), 0);
  EXPECT_EQ(Joined(panel.traces),
            "\n    UDPSocket_Send(4) = \n      00 04 81 00 "
            "\n    BroadcastSocket_Send(4) = \n      00 04 81 00 ");
}

TEST_F(SocketsTest, StringPacketCountsOnlyWhatWasSent) {
  ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
  buf.UDPPacket[5] = 0x77;
  EXPECT_EQ(link.UDPSocket_SendString("J\r\n"), 3);
  EXPECT_EQ(net->Sent().back().bytes, (std::vector<uint8_t>{'J', '\r', '\n'}));
  EXPECT_EQ(buf.UDPPacket[3], 0) << "the text is closed by a zero byte";

  EXPECT_EQ(link.UDPSocket_SendString(""), 0);
  EXPECT_EQ(link.UDPSocket_SendString(std::string(SharedBuffers::kPacketSize, 'x')), 0)
      << "a text the packet buffer cannot hold is not sent";
  net->failSend = true;
  EXPECT_EQ(link.UDPSocket_SendString("?\r\n"), 0) << "a lost line is a failed request";
  EXPECT_EQ(net->Sent().size(), 1u);
}

TEST_F(SocketsTest, CloseReportsAndAClosedSocketClosesSilently) {
  EXPECT_TRUE(link.BroadcastSocket_Close());
  EXPECT_TRUE(link.UDPSocket_Close());
  EXPECT_TRUE(panel.traces.empty());

  ASSERT_EQ(link.BroadcastSocket_Create(), 1);
  ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
  panel.traces.clear();
  net->failClose = true;
  EXPECT_FALSE(link.UDPSocket_Close());
  EXPECT_TRUE(link.UDPSocket.open) << "a socket that did not close stays marked open";
  net->failClose = false;
  EXPECT_TRUE(link.UDPSocket_Close());
  EXPECT_TRUE(link.BroadcastSocket_Close());
  EXPECT_EQ(Joined(panel.traces),
            "\n    UDP Socket close ... Failed !"
            "\n    UDP Socket close ... Successful !"
            "\n    Broadcast Socket close ... Successful !");
  EXPECT_EQ(net->OpenCount(), 0);
  // Closed, a socket can be made again.
  EXPECT_EQ(link.UDPSocket_Create(5002, 5003), 1);
}

// Who a socket talks to is the board's to decide, and nobody else's: a step
// is a datagram arriving (before or after the socket's first request) or a
// send; after each send the test checks where it went and what reached the
// ring. On the segment the board answers for 192.168.100.2 and .7, a peer
// with a MAC of its own for .66 (and the host's table knows it, as its own
// questions leave it), and nobody for .99 (an address off the interface's
// subnet, say).
TEST_F(SocketsTest, OnlyTheBoardSteersTheRequests) {
  const UdpEndpoint board{{192, 168, 100, 2}, 5002};
  const UdpEndpoint ownAddress{{192, 168, 100, 7}, 5002};  // a bootloader's own
  const UdpEndpoint stranger{{192, 168, 100, 66}, 40000};  // the peer
  const UdpEndpoint nobodys{{192, 168, 100, 99}, 5002};
  const std::array<uint8_t, 6> boardMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  struct Step {
    bool arrive;  // else: the engine sends
    UdpEndpoint from;
    UdpEndpoint expectedTo;  // for a send
    uint8_t claims = 0;      // an address answer reporting 192.168.100.<claims>
  };
  struct Case {
    const char* name;
    bool broadcast;
    bool pinned;  // DeviceIP pinned to the board's MAC when the socket is made
    std::vector<Step> steps;
    int inRing;         // datagrams that reached the ring
    std::string trace;  // the worker's note, if any
  };
  const UdpEndpoint everyone{{255, 255, 255, 255}, 5002};
  const std::vector<Case> cases = {
      {"datagrams before the first request steer nothing and are dropped",
       false,
       false,
       {{true, stranger, {}}, {false, {}, board}, {false, {}, board}},
       0,
       ""},
      {"the board's port is followed",
       false,
       false,
       {{false, {}, board}, {true, {board.ip, 6001}, {}}, {false, {}, {board.ip, 6001}}},
       1,
       ""},
      {"a bootloader answering from its own address is followed and named",
       false,
       false,
       {{false, {}, board}, {true, ownAddress, {}}, {false, {}, ownAddress}},
       1,
       "\n    UDP client: the board answers from 192.168.100.7:5002 !"},
      {"once the board is known, a source nobody answers for is dropped and named",
       false,
       false,
       {{false, {}, board},
        {true, board, {}},
        {true, nobodys, {}},
        {false, {}, board},
        {true, {board.ip, 7000}, {}},
        {false, {}, {board.ip, 7000}}},
       2,
       "\n    UDP client: 1 datagram(s) from elsewhere dropped, the last from "
       "192.168.100.99:5002 !"},
      {"a peer of another MAC is dropped even when it answers first",
       false,
       false,
       {{false, {}, board}, {true, stranger, {}}, {true, board, {}}, {false, {}, board}},
       1,
       "\n    UDP client: 1 datagram(s) from elsewhere dropped, the last from "
       "192.168.100.66:40000 !"},
      {"with DeviceIP pinned only the board's addresses count, and are followed",
       false,
       true,
       {{false, {}, board},
        {true, stranger, {}},
        {true, nobodys, {}},
        {true, board, {}},
        {false, {}, board},
        {true, ownAddress, {}},
        {false, {}, ownAddress}},
       2,
       "\n    UDP client: the board answers from 192.168.100.7:5002 !"
       "\n    UDP client: 2 datagram(s) from elsewhere dropped, the last from "
       "192.168.100.99:5002 !"},
      {"the broadcast socket always sends to everyone and drops another MAC's replies",
       true,
       false,
       {{true, stranger, {}},
        {false, {}, everyone},
        {true, stranger, {}},
        {true, nobodys, {}},
        {true, board, {}},
        {false, {}, everyone}},
       2,
       "\n    Broadcast socket: 1 datagram(s) from elsewhere dropped, the last from "
       "192.168.100.66:40000 !"},
      {"an address answer counts only from the board's address it reports",
       true,
       false,
       {{false, {}, everyone},
        {true, stranger, {}, 66},
        {true, nobodys, {}, 99},
        {true, stranger, {}, 2},
        {true, ownAddress, {}, 2},
        {true, board, {}, 2}},
       1,
       "\n    Broadcast socket: 4 datagram(s) from elsewhere dropped, the last from "
       "192.168.100.7:5002 !"},
  };
  const std::array<uint8_t, 6> peerMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x66};
  std::copy(board.ip.begin(), board.ip.end(), deviceIP);
  neighbours->segment = {{board.ip, boardMac}, {ownAddress.ip, boardMac}, {stranger.ip, peerMac}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    link.UDPSocket_Close();
    link.BroadcastSocket_Close();
    buf.AllocSharedBuffers();
    panel.traces.clear();
    net->sent.clear();
    neighbours->rows.clear();
    neighbours->Put(2, stranger.ip, peerMac, false);
    link.DeviceIPPinned = c.pinned ? 1 : 0;
    SocketRecord& sock = c.broadcast ? link.BroadcastSocket : link.UDPSocket;
    ASSERT_EQ(c.broadcast ? link.BroadcastSocket_Create() : link.UDPSocket_Create(5002, 0), 1);
    const Ring ring = c.broadcast ? Ring::kBroadcast : Ring::kUDP;
    size_t sends = 0;
    for (const Step& step : c.steps) {
      if (step.arrive) {
        std::vector<uint8_t> reply{0x00, 0x05, 0x81, 0x20, 0x06};
        if (step.claims != 0) {
          reply.assign(31, 0);
          reply[1] = 31;
          reply[2] = 0x80;
          std::copy(boardMac.begin(), boardMac.end(), reply.begin() + 21);
          reply[27] = 192;
          reply[28] = 168;
          reply[29] = 100;
          reply[30] = step.claims;
        }
        net->Deliver(sock.handle, reply, step.from);
        RecvPass(link);
        continue;
      }
      const uint8_t byte = 0x01;
      ASSERT_EQ(c.broadcast ? link.BroadcastSocket_Send(&byte, 1) : link.UDPSocket_Send(&byte, 1),
                1);
      ASSERT_EQ(net->Sent().size(), ++sends);
      EXPECT_EQ(net->Sent().back().peer.ip, step.expectedTo.ip) << "send " << sends;
      EXPECT_EQ(net->Sent().back().peer.port, step.expectedTo.port) << "send " << sends;
    }
    int inRing = 0;
    for (; RingAvailable(buf, ring); RingSkipRest(buf, ring)) {
      RingSkip(buf, ring);
      ++inRing;
    }
    EXPECT_EQ(inRing, c.inRing);
    // The worker's notes.
    UDP_applay(link);
    Broadcast_applay(link);
    std::string notes;
    for (const std::string& t : panel.traces) {
      notes += t.find(" client:") != std::string::npos || t.find(" socket:") != std::string::npos
                   ? t
                   : "";
    }
    EXPECT_EQ(notes, c.trace);
  }
}

// Each source is looked up once for the socket's life, and only the first
// few make the host ask the segment and wait for an answer: a peer spraying
// from address after address cannot hold the receive thread for long.
TEST_F(SocketsTest, ASprayerOfAddressesIsAskedAboutAFewTimesOnly) {
  link.DeviceIPPinned = 1;
  ASSERT_EQ(link.UDPSocket_Create(5002, 0), 1);
  const uint8_t byte = 0x01;
  ASSERT_EQ(link.UDPSocket_Send(&byte, 1), 1);
  for (int round = 0; round < 2; ++round) {
    for (uint8_t last = 100; last < 106; ++last) {
      net->Deliver(link.UDPSocket.handle, {0x00, 0x05, 0x81, 0x20, 0x06},
                   {{192, 168, 100, last}, 5002});
      RecvPass(link);
    }
  }
  EXPECT_EQ(neighbours->asks, 3);
  EXPECT_EQ(neighbours->lookups, 6) << "each source once";
  EXPECT_FALSE(RingAvailable(buf, Ring::kUDP));
  EXPECT_EQ(link.UDPSocket.foreignDropped, 12u);
}

// The owner of a source is found without holding the socket: what the
// socket became meanwhile decides whether the datagram is still its.
TEST_F(SocketsTest, DatagramOfASocketMadeAnewWhileItsSourceWasAskedAboutIsDropped) {
  link.DeviceIPPinned = 1;
  ASSERT_EQ(link.UDPSocket_Create(5002, 0), 1);
  const uint8_t byte = 0x01;
  ASSERT_EQ(link.UDPSocket_Send(&byte, 1), 1);
  neighbours->onAsk = [this, byte] {
    link.UDPSocket_Close();
    link.UDPSocket_Create(5002, 0);
    link.UDPSocket_Send(&byte, 1);
  };
  net->Deliver(link.UDPSocket.handle, {0x00, 0x05, 0x81, 0x20, 0x06}, {{192, 168, 100, 9}, 5002});
  RecvPass(link);
  EXPECT_EQ(neighbours->asks, 1);
  EXPECT_FALSE(RingAvailable(buf, Ring::kUDP)) << "the old socket's datagram in the new one's ring";
}

// The function button runs on the front end's thread, through the engine.
class TestTextTest : public EngineTest {
 protected:
  TestTextTest() { link.Net_Startup(); }
};

TEST_F(TestTextTest, TestTextButtonShowsTheCountAndLeavesMsgTextAlone) {
  op.Log.MsgText = "worker's last message";
  engine.SendTestText();
  EXPECT_EQ(panel.list, "\n   UDPSocket_SendString(len=0) !") << "no socket open";

  ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
  op.Log.MsgText = "worker's last message";
  panel.list.clear();
  panel.traces.clear();
  engine.SendTestText();
  EXPECT_EQ(panel.list, "\n   UDPSocket_SendString(len=6) !");
  EXPECT_EQ(net->Sent().back().bytes, (std::vector<uint8_t>{'4', '7', '7', '6', 13, 10}));
  EXPECT_EQ(Joined(panel.traces), "\n    UDPSocket_Send(6) = " + Dump(net->Sent().back().bytes));
  EXPECT_EQ(op.Log.MsgText, "worker's last message");
}

}  // namespace
}  // namespace kova::test
