// The host's own sockets (POSIX on Linux, Windows Sockets under Windows) on
// the loopback address: what the receive thread and the boot server rely
// on beyond what the in-memory network shows.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "platform/net_platform.h"

namespace kova {
namespace {

// A socket on 127.0.0.1 at a drawn port (the platform does not say which
// port it was given).
int OpenOnLoopback(NetPlatform& net, UdpEndpoint& at) {
  std::mt19937 draw(std::random_device{}());
  for (int attempt = 0; attempt < 50; ++attempt) {
    UdpSocketSpec spec;
    spec.local.ip = {127, 0, 0, 1};
    spec.local.port = static_cast<uint16_t>(40000 + draw() % 20000);
    const int handle = net.Open(spec);
    if (handle >= 0) {
      at = spec.local;
      return handle;
    }
  }
  return -1;
}

TEST(HostSocketsTest, AWakeEndsAWaitAndIsTakenByTheWaitThatSawIt) {
  const std::unique_ptr<NetPlatform> net = MakeNetPlatform();
  UdpEndpoint at;
  const int socket = OpenOnLoopback(*net, at);
  const int wake = net->OpenWake();
  ASSERT_GE(socket, 0);
  ASSERT_GE(wake, 0);
  const int handles[2] = {socket, wake};

  EXPECT_EQ(net->Wait(handles, 2, 20), 0u) << "nothing signalled: the wait runs out";
  net->SignalWake(wake);
  EXPECT_EQ(net->Wait(handles, 2, 60000), 2u) << "signalled before the wait";
  EXPECT_EQ(net->Wait(handles, 2, 20), 0u) << "the signal was taken";

  // From another thread, in the middle of a wait that would last a minute.
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    net->SignalWake(wake);
  });
  EXPECT_EQ(net->Wait(handles, 2, 60000), 2u);
  waker.join();
  EXPECT_EQ(net->Close(wake), 0);
  EXPECT_EQ(net->Close(socket), 0);
}

TEST(HostSocketsTest, ADatagramLargerThanTheBufferIsReportedNotCut) {
  const std::unique_ptr<NetPlatform> net = MakeNetPlatform();
  UdpEndpoint receiverAt;
  UdpEndpoint senderAt;
  const int receiver = OpenOnLoopback(*net, receiverAt);
  const int sender = OpenOnLoopback(*net, senderAt);
  ASSERT_GE(receiver, 0);
  ASSERT_GE(sender, 0);
  constexpr size_t kBuffer = 1024;
  struct Case {
    size_t size;
    int expected;
  } cases[] = {
      {kBuffer, static_cast<int>(kBuffer)},
      {kBuffer + 476, NetPlatform::kTooLarge},
      {9, 9},  // the large one did not stay behind
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<uint8_t> datagram(c.size);
    for (size_t i = 0; i < c.size; ++i) {
      datagram[i] = static_cast<uint8_t>(i * 7 + c.size);
    }
    ASSERT_EQ(net->SendTo(sender, datagram.data(), datagram.size(), receiverAt),
              static_cast<int>(c.size));
    ASSERT_EQ(net->Wait(&receiver, 1, 60000), 1u);
    std::vector<uint8_t> buffer(kBuffer);
    UdpEndpoint from;
    EXPECT_EQ(net->RecvFrom(receiver, buffer.data(), buffer.size(), from), c.expected);
    EXPECT_EQ(from.port, senderAt.port);
    if (c.expected >= 0) {
      buffer.resize(static_cast<size_t>(c.expected));
      EXPECT_EQ(buffer, datagram);
    }
  }
  std::vector<uint8_t> buffer(kBuffer);
  UdpEndpoint from;
  EXPECT_EQ(net->RecvFrom(receiver, buffer.data(), buffer.size(), from), NetPlatform::kNothing);
  net->Close(sender);
  net->Close(receiver);
}

}  // namespace
}  // namespace kova
