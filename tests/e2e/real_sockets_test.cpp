// The Linux socket platform on a real link: what the in-memory network can
// only pretend. Runs inside the namespace that run_in_netns.sh makes (veth
// kova-h0 at 192.168.100.1/24, its peer kova-b0 without an address).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/net_platform.h"

namespace kova::test {
namespace {

constexpr uint16_t kHostPort = 5099;

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

bool HardwareAddress(const char* name, uint8_t mac[6]) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
  const bool ok = ioctl(fd, SIOCGIFHWADDR, &ifr) == 0;
  close(fd);
  std::memcpy(mac, ifr.ifr_hwaddr.sa_data, 6);
  return ok;
}

uint16_t Checksum(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < length; i += 2) {
    sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  }
  while (sum >> 16) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint16_t>(~sum);
}

// Puts a UDP datagram of `payload` bytes on the wire at kova-b0, from
// 192.168.100.9 to the host's port: it crosses the veth pair like a board's.
bool SendFromTheBoardSide(size_t payload) {
  uint8_t hostMac[6], boardMac[6];
  if (!HardwareAddress("kova-h0", hostMac) || !HardwareAddress("kova-b0", boardMac)) {
    return false;
  }
  std::vector<uint8_t> frame(14 + 20 + 8 + payload, 0x5A);
  std::memcpy(frame.data(), hostMac, 6);
  std::memcpy(frame.data() + 6, boardMac, 6);
  frame[12] = 0x08;
  frame[13] = 0x00;
  uint8_t* ip = frame.data() + 14;
  const size_t ipLength = 20 + 8 + payload;
  const uint8_t header[20] = {0x45,
                              0,
                              static_cast<uint8_t>(ipLength >> 8),
                              static_cast<uint8_t>(ipLength),
                              0,
                              1,
                              0x40,
                              0,
                              64,
                              IPPROTO_UDP,
                              0,
                              0,
                              192,
                              168,
                              100,
                              9,
                              192,
                              168,
                              100,
                              1};
  std::memcpy(ip, header, 20);
  const uint16_t sum = Checksum(ip, 20);
  ip[10] = static_cast<uint8_t>(sum >> 8);
  ip[11] = static_cast<uint8_t>(sum);
  uint8_t* udp = ip + 20;
  const size_t udpLength = 8 + payload;
  const uint8_t udpHeader[8] = {0x13,
                                0x8A,
                                kHostPort >> 8,
                                kHostPort & 0xFF,
                                static_cast<uint8_t>(udpLength >> 8),
                                static_cast<uint8_t>(udpLength),
                                0,
                                0};
  std::memcpy(udp, udpHeader, 8);

  const int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = static_cast<int>(if_nametoindex("kova-b0"));
  to.sll_halen = 6;
  std::memcpy(to.sll_addr, hostMac, 6);
  const ssize_t sent =
      sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
  close(fd);
  return sent == static_cast<ssize_t>(frame.size());
}

class RealSocketsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (if_nametoindex("kova-h0") == 0) {
      GTEST_SKIP() << "no kova-h0: run through run_in_netns.sh";
    }
    // Room on the link for a datagram that the engine's buffer cannot hold.
    ASSERT_EQ(std::system("ip link set kova-h0 mtu 9000 && ip link set kova-b0 mtu 9000"), 0);
  }

  std::unique_ptr<NetPlatform> net = MakeNetPlatform();
};

TEST_F(RealSocketsTest, DatagramLargerThanTheBufferIsRefusedWholeAndTheNextOneIsTaken) {
  UdpSocketSpec spec;
  spec.local.port = kHostPort;
  spec.device = "kova-h0";
  const int handle = net->Open(spec);
  ASSERT_GE(handle, 0);
  ASSERT_TRUE(SendFromTheBoardSide(1500));
  ASSERT_TRUE(SendFromTheBoardSide(1024));
  const int handles[1] = {handle};
  ASSERT_EQ(net->Wait(handles, 1, 2000), 1u);
  uint8_t buffer[1024];
  UdpEndpoint from;
  EXPECT_EQ(net->RecvFrom(handle, buffer, sizeof buffer, from), NetPlatform::kTooLarge);
  EXPECT_EQ(from.ip, (std::array<uint8_t, 4>{192, 168, 100, 9}));
  ASSERT_EQ(net->Wait(handles, 1, 2000), 1u);
  EXPECT_EQ(net->RecvFrom(handle, buffer, sizeof buffer, from), 1024);
  EXPECT_EQ(buffer[1023], 0x5A);
  EXPECT_EQ(net->Wait(handles, 1, 1), 0u) << "nothing else arrived";
  EXPECT_EQ(net->Close(handle), 0);
}

TEST_F(RealSocketsTest, SocketThatCannotBeMadeLeavesNoDescriptorOpen) {
  UdpSocketSpec taken;
  taken.local.port = kHostPort;
  taken.device = "kova-h0";
  const int holder = net->Open(taken);
  ASSERT_GE(holder, 0);
  struct Case {
    const char* name;
    UdpSocketSpec spec;
  };
  UdpSocketSpec missingDevice = taken;
  missingDevice.device = "kova-none";
  missingDevice.local.port = 0;
  UdpSocketSpec portInUse = taken;
  portInUse.broadcast = true;
  portInUse.timeoutMs = 1000;
  const Case cases[] = {{"a device that does not exist", missingDevice},
                        {"a port another socket holds", portInUse}};
  for (const Case& c : cases) {
    const size_t before = OpenDescriptors();
    EXPECT_EQ(net->Open(c.spec), -1) << c.name;
    EXPECT_EQ(OpenDescriptors(), before) << c.name;
  }
  EXPECT_EQ(net->Close(holder), 0);
}

}  // namespace
}  // namespace kova::test
