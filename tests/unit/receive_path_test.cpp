#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_fixture.h"
#include "protocol/receive_path.h"
#include "protocol/rx_ring.h"

namespace kova::test {
namespace {

class ReceivePathTest : public LinkTest {
 protected:
  ReceivePathTest() {
    link.Net_Startup();
    link.BroadcastSocket_Create();
    link.UDPSocket_Create(5002, 5003);
    broadcast = net->opened.at(0);
    udp = net->opened.at(1);
    // Each socket's first request: what arrives after it may be an answer.
    const uint8_t request = 0;
    link.BroadcastSocket_Send(&request, 1);
    link.UDPSocket_Send(&request, 1);
  }

  // Everything waiting in a ring, taken out.
  std::vector<uint8_t> Drain(Ring ring) {
    std::vector<uint8_t> bytes;
    while (RingAvailable(buf, ring)) {
      bytes.push_back(RingPeek(buf, ring));
      RingSkip(buf, ring);
    }
    return bytes;
  }

  std::vector<uint8_t> DrainUDPRing() {
    std::vector<uint8_t> bytes;
    while (UDP_RxAvailable(link)) {
      bytes.push_back(UDP_RxPeek(link));
      UDP_RxSkip(link);
    }
    return bytes;
  }

  int broadcast = -1;
  int udp = -1;
};

std::vector<uint8_t> Marked(std::vector<uint8_t> bytes) {
  bytes.insert(bytes.begin(), kDatagramMarker);
  return bytes;
}

TEST_F(ReceivePathTest, EachDatagramFollowsAMarkerInItsSocketsRing) {
  net->Deliver(udp, {0x00, 0x05, 0x81, 0x20, 0x06});
  net->Deliver(udp, {});
  net->Deliver(broadcast, {0x00, 0x06, 0x80, 0x01, 0x01, 0x07});
  RecvPass(link);
  RecvPass(link);
  RecvPass(link);
  EXPECT_EQ(DrainUDPRing(), (std::vector<uint8_t>{0x25, 0x00, 0x05, 0x81, 0x20, 0x06, 0x25}))
      << "a zero-length datagram adds only its marker";
  EXPECT_EQ(Drain(Ring::kBroadcast), Marked({0x00, 0x06, 0x80, 0x01, 0x01, 0x07}));
  EXPECT_EQ(link.UDPRxDropped.load(), 0u);
}

TEST_F(ReceivePathTest, OnePassTakesAtMostOneDatagramPerSocket) {
  net->Deliver(udp, {0x01});
  net->Deliver(udp, {0x02});
  RecvPass(link);
  EXPECT_EQ(DrainUDPRing(), Marked({0x01}));
  RecvPass(link);
  EXPECT_EQ(DrainUDPRing(), Marked({0x02}));
}

TEST_F(ReceivePathTest, NothingIsTakenBeforeTheNetworkStartsOrFromAClosedSocket) {
  net->Deliver(udp, {0x01});
  link.NetStarted = 0;
  RecvPass(link);
  EXPECT_FALSE(UDP_RxAvailable(link));

  link.NetStarted = 1;
  link.UDPSocket_Close();
  RecvPass(link);
  EXPECT_FALSE(UDP_RxAvailable(link));
}

TEST_F(ReceivePathTest, ASocketMadeDuringTheWaitIsWatchedWithoutWaitingTheDelayOut) {
  // The remote road's pattern: each command on a socket of its own, made
  // while the receive thread already waits on the handles it read before.
  link.RecvWake = net->OpenWake();
  link.RecvThreadDelay = 2;
  link.UDPSocket_Close();
  bool made = false;
  net->onWait = [&] {
    if (made) {
      return;
    }
    made = true;
    ASSERT_EQ(link.UDPSocket_Create(5002, 5003), 1);
    const uint8_t request = 0;
    link.UDPSocket_Send(&request, 1);
    net->Deliver(net->opened.back(), {0x07});
  };
  RecvPass(link);
  RecvPass(link);
  EXPECT_EQ(DrainUDPRing(), Marked({0x07}));
  EXPECT_EQ(net->WaitedOutMs(), 0) << "a wait ran its time out with a reply waiting";
}

TEST_F(ReceivePathTest, DatagramLargerThanTheBufferIsNotDelivered) {
  net->Deliver(udp, std::vector<uint8_t>(SharedBuffers::kRxBufferSize + 1, 0x41),
               {{10, 9, 9, 9}, 7000});
  net->Deliver(udp, std::vector<uint8_t>(SharedBuffers::kRxBufferSize, 0x42));
  RecvPass(link);
  EXPECT_FALSE(UDP_RxAvailable(link));
  // Nor does it redirect the socket's sends.
  const uint8_t byte = 0;
  ASSERT_EQ(link.UDPSocket_Send(&byte, 1), 1);
  EXPECT_EQ(net->Sent().back().peer.ip, (std::array<uint8_t, 4>{192, 168, 100, 2}));
  EXPECT_EQ(net->Sent().back().peer.port, 5002);

  RecvPass(link);
  EXPECT_EQ(DrainUDPRing().size(), SharedBuffers::kRxBufferSize + 1u) << "1024 bytes still fit";
}

TEST_F(ReceivePathTest, DatagramThatDoesNotFitTheRingWholeIsDroppedAndCounted) {
  // Seven full datagrams take 7 x 1025 = 7175 of the 8191 usable bytes.
  const std::vector<uint8_t> full(SharedBuffers::kRxBufferSize, 0x11);
  for (int i = 0; i < 7; ++i) {
    net->Deliver(udp, full);
    RecvPass(link);
  }
  net->Deliver(udp, std::vector<uint8_t>(1016, 0x21));  // 1017 with its marker: one too many
  net->Deliver(udp, std::vector<uint8_t>(1015, 0x22));  // fills the ring exactly
  net->Deliver(udp, {0x33});                            // no room left
  RecvPass(link);
  RecvPass(link);
  RecvPass(link);
  EXPECT_EQ(link.UDPRxDropped.load(), 2u);
  EXPECT_EQ(link.BroadcastRxDropped.load(), 0u);

  const std::vector<uint8_t> ring = DrainUDPRing();
  ASSERT_EQ(ring.size(), 8191u);
  EXPECT_EQ(ring[7175], kDatagramMarker);
  EXPECT_EQ(ring[7176], 0x22) << "the ring keeps whole datagrams only";
  EXPECT_EQ(ring.back(), 0x22);

  // Once read, the ring takes datagrams again.
  net->Deliver(udp, {0x44, 0x45});
  RecvPass(link);
  EXPECT_EQ(DrainUDPRing(), Marked({0x44, 0x45})) << "written across the ring's end";
  EXPECT_EQ(link.UDPRxDropped.load(), 2u);
}

TEST_F(ReceivePathTest, SkipOnAnEmptyRingLeavesItEmpty) {
  UDP_RxSkip(link);
  EXPECT_FALSE(UDP_RxAvailable(link));
  net->Deliver(udp, {0x01});
  RecvPass(link);
  EXPECT_EQ(DrainUDPRing(), Marked({0x01}));
}

// What one socket left unread never answers what the next one asks.
TEST_F(ReceivePathTest, AFreshSocketStartsWithEmptyRings) {
  net->Deliver(udp, {0x00, 0x05, 0x81, 0x20, 0x06});
  net->Deliver(broadcast, {0x00, 0x05, 0x80, 0x04, 0x06});
  RecvPass(link);
  ASSERT_TRUE(UDP_RxAvailable(link));
  ASSERT_TRUE(RingAvailable(buf, Ring::kBroadcast));
  UDP_RxSkip(link);  // a reader stopped inside the datagram
  link.UDPSocket_Close();
  link.BroadcastSocket_Close();
  ASSERT_EQ(link.UDPSocket_Create(5002, 0), 1);
  ASSERT_EQ(link.BroadcastSocket_Create(), 1);
  EXPECT_FALSE(UDP_RxAvailable(link));
  EXPECT_FALSE(RingAvailable(buf, Ring::kBroadcast));
  EXPECT_EQ(RingLeft(buf, Ring::kUDP), 0);

  const uint8_t request = 0;
  ASSERT_EQ(link.UDPSocket_Send(&request, 1), 1);
  net->Deliver(link.UDPSocket.handle, {0x01, 0x02});
  RecvPass(link);
  EXPECT_EQ(DrainUDPRing(), Marked({0x01, 0x02}));
}

}  // namespace
}  // namespace kova::test
