#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "boot_board.h"
#include "bootserver/boot_packets.h"
#include "bootserver/boot_server.h"
#include "timed_net.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;
using boot::Ip4;

const uint8_t kOtherMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
const Ip4 kServer{192, 168, 100, 1};
const Ip4 kClient{192, 168, 100, 2};

// The server on an in-memory network whose clock moves only while the server
// waits, against a played board.
class BootRig {
 public:
  BootRig() {
    params.seed = 7;
    params.clock = [this] { return net.Now(); };
    params.trace = [this](const std::string& line) { traces.push_back(line); };
  }

  int Run(const std::vector<uint8_t>& served) {
    return BootServer_Run(kBoardMac, kServer, kClient, served.data(),
                          static_cast<uint32_t>(served.size()), &RecordProgress, this, stop, net,
                          "eth1", params);
  }

  std::vector<FakeNet::Datagram> SentOn(int handle) {
    std::vector<FakeNet::Datagram> out;
    for (const FakeNet::Datagram& d : net.Sent()) {
      if (d.handle == handle) {
        out.push_back(d);
      }
    }
    return out;
  }

  TimedNet net;
  BootBoard board{net};
  std::atomic<int32_t> stop{0};
  BootServerParams params;
  std::vector<int> progress;
  std::vector<std::string> traces;

 private:
  static void RecordProgress(int percent, void* context) {
    static_cast<BootRig*>(context)->progress.push_back(percent);
  }
};

bool SameEndpoint(const UdpEndpoint& a, const UdpEndpoint& b) {
  return a.ip == b.ip && a.port == b.port;
}

TEST(BootServer, WakesAnswersAndServesTheBoardOnItsInterface) {
  struct Case {
    size_t length;
    std::vector<int> progress;
    size_t lastDataLength;
  };
  const Case cases[] = {
      {1000, {-1, 51, 100}, 4 + 488},
      {1024, {-1, 50, 100, 100}, 4},
      {0, {-1, 100}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    BootRig rig;
    const std::vector<uint8_t> served = PatternImage(c.length);
    ASSERT_EQ(rig.Run(served), kBootServerComplete);
    EXPECT_EQ(rig.board.image, served);
    EXPECT_EQ(rig.progress, c.progress);
    EXPECT_EQ(rig.net.OpenCount(), 0);

    // Both listening sockets take any address on the chosen interface.
    const UdpSocketSpec bootp = rig.net.SpecOf(rig.board.Bootp());
    const UdpSocketSpec tftp = rig.net.SpecOf(rig.board.Tftp());
    const UdpSocketSpec magic = rig.net.SpecOf(rig.board.Magic());
    EXPECT_EQ(bootp.local.port, 67);
    EXPECT_TRUE(bootp.broadcast);
    EXPECT_EQ(tftp.local.port, 69);
    EXPECT_FALSE(tftp.broadcast);
    EXPECT_TRUE(magic.broadcast);
    ASSERT_EQ(rig.net.opened.size(), 4u);
    const UdpSocketSpec transfer = rig.net.SpecOf(rig.net.opened[3]);
    EXPECT_GE(transfer.local.port, 32768);
    EXPECT_LE(transfer.local.port, 40959);
    for (const UdpSocketSpec& spec : {bootp, tftp, magic, transfer}) {
      EXPECT_EQ(spec.device, "eth1");
    }

    // Answered at once: one magic packet, one reply to everyone at port 68.
    const auto magics = rig.SentOn(rig.board.Magic());
    ASSERT_EQ(magics.size(), 1u);
    EXPECT_TRUE(SameEndpoint(magics[0].peer, {{255, 255, 255, 255}, 9}));
    const auto replies = rig.SentOn(rig.board.Bootp());
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes.size(), 300u);
    EXPECT_TRUE(SameEndpoint(replies[0].peer, {{255, 255, 255, 255}, 68}));
    const auto data = rig.SentOn(rig.net.opened[3]);
    EXPECT_EQ(data.back().bytes.size(), c.lastDataLength);
    for (const auto& d : data) {
      EXPECT_TRUE(SameEndpoint(d.peer, kBoardTftp));
    }
  }
}

// Requests that are not the board's own leave it unanswered, so the magic
// packet goes on every 500 ms.
TEST(BootServer, OnlyTheBoardsRequestIsAnsweredAndStopsTheMagicPacket) {
  struct Case {
    const char* name;
    std::vector<uint8_t> request;
    bool answered;
  };
  std::vector<uint8_t> cut = BootpRequest("tiva");
  cut.resize(boot::kBootpMinRequest - 1);
  const Case cases[] = {
      {"TIVA", BootpRequest("TIVA"), true},
      {"stellaris and more", BootpRequest("stellaris2"), false},
      {"another MAC", BootpRequest("stellaris", kOtherMac), false},
      {"too short", cut, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BootRig rig;
    rig.board.wakes = false;
    rig.board.reads = false;
    // A request on every odd wait, the stop on the tenth: five silent waits.
    rig.board.onWait = [&rig, &c](int wait) {
      if (wait % 2 == 1) {
        rig.net.Deliver(rig.board.Bootp(), c.request, kBoardBootp);
      }
      if (wait == 10) {
        rig.stop = 1;
      }
    };
    EXPECT_EQ(rig.Run(PatternImage(100)), kBootServerStopped);
    EXPECT_EQ(rig.SentOn(rig.board.Bootp()).size(), c.answered ? 5u : 0u);
    EXPECT_EQ(rig.SentOn(rig.board.Magic()).size(), c.answered ? 1u : 6u);
    EXPECT_EQ(rig.net.OpenCount(), 0);
  }
}

TEST(BootServer, AnythingButAReadRequestOnPort69GetsTheError) {
  const UdpEndpoint stranger{{192, 168, 100, 9}, 3000};
  const std::vector<uint8_t> packets[] = {
      TftpPacket(2), TftpPacket(3, 1), TftpPacket(4, 0), {0}, {}};
  for (const auto& packet : packets) {
    SCOPED_TRACE(packet.size());
    BootRig rig;
    rig.board.wakes = false;
    rig.board.onWait = [&rig, &packet, &stranger](int wait) {
      if (wait == 1) {
        rig.net.Deliver(rig.board.Tftp(), packet, stranger);
      }
      if (wait == 2) {
        rig.stop = 1;
      }
    };
    EXPECT_EQ(rig.Run(PatternImage(100)), kBootServerStopped);
    const auto errors = rig.SentOn(rig.board.Tftp());
    ASSERT_EQ(errors.size(), 1u);
    const auto& expected = boot::OnlyRrqError();
    EXPECT_EQ(errors[0].bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_TRUE(SameEndpoint(errors[0].peer, stranger));
    EXPECT_EQ(rig.net.opened.size(), 3u) << "no transfer socket";
    EXPECT_EQ(rig.progress, std::vector<int>{-1});
  }
}

TEST(BootServer, RepeatedAckIsIgnoredAndTheBlockResentOneSecondAfterItsSending) {
  BootRig rig;
  std::vector<std::chrono::milliseconds> sentAt;
  // The first DATA 2 is answered with a second ACK of block 1.
  rig.board.lose = [&rig](uint16_t block, int times) {
    if (block == 2 && times == 1) {
      rig.net.Deliver(rig.net.opened.at(3), TftpPacket(4, 1), kBoardTftp);
      return true;
    }
    return false;
  };
  rig.board.onSent = [&](const FakeNet::Datagram& d) {
    if (rig.board.IsTransfer(d.handle)) {
      sentAt.push_back(rig.net.Elapsed());
    }
    rig.board.Take(d);
  };
  const std::vector<uint8_t> served = PatternImage(1500);
  ASSERT_EQ(rig.Run(served), kBootServerComplete);
  EXPECT_EQ(rig.board.dataBlocks, (std::vector<uint16_t>{1, 2, 2, 3}));
  EXPECT_EQ(rig.board.image, served);
  EXPECT_EQ(rig.progress, (std::vector<int>{-1, 34, 68, 100}));
  // DATA 2 went out, the repeated ACK came and went unanswered.
  ASSERT_EQ(sentAt.size(), 4u);
  EXPECT_EQ(sentAt[2] - sentAt[1], 1000ms);
}

TEST(BootServer, SecondReadRequestRestartsOnANewTransferSocket) {
  BootRig rig;
  const UdpEndpoint restarted{{192, 168, 100, 2}, 2001};
  bool again = false;
  rig.board.lose = [&](uint16_t block, int) {
    if (block == 2 && !again) {
      again = true;
      rig.board.image.clear();
      rig.board.nextBlock = 1;
      rig.board.ackFrom = restarted;
      rig.net.Deliver(rig.board.Tftp(), TftpPacket(1), restarted);
      return true;
    }
    return false;
  };
  const std::vector<uint8_t> served = PatternImage(1500);
  ASSERT_EQ(rig.Run(served), kBootServerComplete);
  ASSERT_EQ(rig.net.opened.size(), 5u);
  EXPECT_FALSE(rig.net.IsOpen(rig.net.opened[3]));
  const auto second = rig.SentOn(rig.net.opened[4]);
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(second[0].bytes[3], 1);
  EXPECT_TRUE(SameEndpoint(second[0].peer, restarted));
  EXPECT_EQ(rig.board.image, served);
  EXPECT_EQ(rig.net.OpenCount(), 0);
}

TEST(BootServer, StopTokenEndsTheServerWithEverySocketClosed) {
  for (int stopAtWait : {0, 4}) {
    SCOPED_TRACE(stopAtWait);
    BootRig rig;
    rig.stop = stopAtWait == 0 ? 1 : 0;
    rig.board.lose = [&rig, stopAtWait](uint16_t block, int) {
      if (block == 2) {
        rig.stop = 1;
      }
      return stopAtWait != 0 && block == 2;
    };
    EXPECT_EQ(rig.Run(PatternImage(5000)), kBootServerStopped);
    EXPECT_EQ(rig.net.OpenCount(), 0);
    EXPECT_LE(rig.board.dataBlocks.size(), 2u);
  }
}

// The magic packet's period caps every wait, so a bound ends the run on the
// wait that reaches it.
TEST(BootServer, WaitsForTheBoardAreBounded) {
  struct Case {
    const char* name;
    std::function<void(BootRig&)> board;
    int result;
    int waits;
  };
  const Case cases[] = {
      {"the board never asks", [](BootRig& rig) { rig.board.wakes = false; }, kBootServerNoRequest,
       20},
      {"answered, but never reads", [](BootRig& rig) { rig.board.reads = false; }, kBootServerNoAck,
       1 + 12},
      {"stops acknowledging after block 2",
       [](BootRig& rig) { rig.board.lose = [](uint16_t block, int) { return block > 2; }; },
       kBootServerNoAck, 4 + 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BootRig rig;
    rig.params.requestBound = 10s;
    rig.params.ackBound = 6s;
    c.board(rig);
    EXPECT_EQ(rig.Run(PatternImage(5000)), c.result);
    EXPECT_EQ(rig.net.Waits(), c.waits);
    EXPECT_EQ(rig.net.OpenCount(), 0);
  }
}

// On a busy segment something arrives every 200 ms: another machine's DHCP
// request, the board's acknowledgement of the block before once more, or an
// acknowledgement of the current block from another endpoint. None of it
// holds a resend back or brings one forward, none of it is answered, and the
// bounds end the run at their time.
TEST(BootServer, ResendsAndBoundsKeepTheirTimeUnderForeignTraffic) {
  using Sends = std::vector<std::pair<long long, int>>;  // ms from the start, block
  enum Stream { kOthersDhcp, kRepeatedAck, kStrangersAck };
  struct Case {
    const char* name;
    Stream stream;
    std::function<bool(uint16_t block, int times)> lose;
    bool wakes;
    int result;
    Sends data;
    std::vector<long long> magic;
    long long endMs;
    std::vector<int> progress;  // what the worker's backstop sees move
  };
  const auto secondOnce = [](uint16_t block, int times) { return block == 2 && times == 1; };
  const auto fromSecond = [](uint16_t block, int) { return block >= 2; };
  const Sends resentOnce = {{0, 1}, {0, 2}, {1000, 2}, {1000, 3}};
  const Sends resentUntilBound = {{0, 1},    {0, 2},    {1000, 2}, {2000, 2},
                                  {3000, 2}, {4000, 2}, {5000, 2}, {6000, 2}};
  const Case cases[] = {
      {"lost block, DHCP",
       kOthersDhcp,
       secondOnce,
       true,
       kBootServerComplete,
       resentOnce,
       {0},
       1000,
       {-1, 34, 68, 100}},
      {"lost block, repeated ACK",
       kRepeatedAck,
       secondOnce,
       true,
       kBootServerComplete,
       resentOnce,
       {0},
       1000,
       {-1, 34, 68, 100}},
      {"lost block, strangers' ACK",
       kStrangersAck,
       secondOnce,
       true,
       kBootServerComplete,
       resentOnce,
       {0},
       1000,
       {-1, 34, 68, 100}},
      {"asleep, DHCP",
       kOthersDhcp,
       nullptr,
       false,
       kBootServerNoRequest,
       {},
       {0, 500, 1000, 1500, 2000, 2500, 3000},
       3000,
       {}},
      {"no more ACKs, repeated ACK",
       kRepeatedAck,
       fromSecond,
       true,
       kBootServerNoAck,
       resentUntilBound,
       {0},
       6000,
       {-1, 34}},
      {"no more ACKs, strangers' ACK",
       kStrangersAck,
       fromSecond,
       true,
       kBootServerNoAck,
       resentUntilBound,
       {0},
       6000,
       {-1, 34}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BootRig rig;
    rig.params.requestBound = 3s;
    rig.params.ackBound = 6s;
    rig.board.lose = c.lose;
    rig.board.wakes = c.wakes;
    Sends data;
    std::vector<long long> magic;
    rig.net.peer = [&](const FakeNet::Datagram& d) {
      const long long at = static_cast<long long>(rig.net.Elapsed().count());
      if (rig.board.IsTransfer(d.handle)) {
        data.emplace_back(at, d.bytes[3]);
      } else if (d.handle == rig.board.Magic()) {
        magic.push_back(at);
      }
    };
    rig.net.Every(200ms, [&rig, &c] {
      if (c.stream == kOthersDhcp) {
        rig.net.Deliver(rig.board.Bootp(), BootpRequest("stellaris", kOtherMac), kBoardBootp);
        return;
      }
      if (rig.board.dataBlocks.empty()) {
        return;
      }
      const int transfer = rig.net.opened.at(3);
      const uint16_t current = rig.board.dataBlocks.back();
      if (c.stream == kRepeatedAck) {
        rig.net.Deliver(transfer, TftpPacket(4, static_cast<uint16_t>(current - 1)), kBoardTftp);
      } else {
        rig.net.Deliver(transfer, TftpPacket(4, current), {kBoardTftp.ip, 2999});
        rig.net.Deliver(transfer, TftpPacket(4, current), {{192, 168, 100, 7}, 2000});
      }
    });
    const std::vector<uint8_t> served = PatternImage(1500);
    EXPECT_EQ(rig.Run(served), c.result);
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(magic, c.magic);
    EXPECT_EQ(rig.net.Elapsed(), std::chrono::milliseconds(c.endMs));
    EXPECT_EQ(rig.progress, c.progress);
    EXPECT_EQ(rig.SentOn(rig.board.Bootp()).size(), c.wakes ? 1u : 0u);
    if (c.result == kBootServerComplete) {
      EXPECT_EQ(rig.board.image, served);
    }
    EXPECT_EQ(rig.net.OpenCount(), 0);
  }
}

TEST(BootServer, SocketThatCannotBeOpenedEndsTheServerWithItsOwnResult) {
  struct Case {
    const char* name;
    std::function<bool(const UdpSocketSpec&)> refuse;
    int result;
    int attempts;
  };
  const Case cases[] = {
      {"BOOTP", [](const UdpSocketSpec& s) { return s.local.port == 67; }, 2, 1},
      {"TFTP", [](const UdpSocketSpec& s) { return s.local.port == 69; }, 3, 2},
      {"magic packet", [](const UdpSocketSpec& s) { return s.local.port == 0; }, 4, 3},
      {"every transfer port", [](const UdpSocketSpec& s) { return s.local.port >= 32768; }, 5,
       3 + 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BootRig rig;
    int attempts = 0;
    rig.net.refuseOpen = [&](const UdpSocketSpec& spec) {
      ++attempts;
      return c.refuse(spec);
    };
    EXPECT_EQ(rig.Run(PatternImage(600)), c.result);
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(rig.net.OpenCount(), 0);
    EXPECT_NE(BootServer_ResultText(c.result, "eth1", rig.params).find("cannot open"),
              std::string::npos);
  }
}

TEST(BootServer, OnlyTheBoardsAddressReadsAndHoldsTheTransfer) {
  BootRig rig;
  const UdpEndpoint stranger{{192, 168, 100, 7}, 2000};
  // The first copy of every block is lost on its way to the board.
  rig.board.lose = [](uint16_t, int times) { return times == 1; };
  rig.board.onSent = [&](const FakeNet::Datagram& d) {
    if (d.handle == rig.board.Bootp()) {
      // Someone else asks first, then acknowledges what the board did not get.
      rig.net.Deliver(rig.board.Tftp(), TftpPacket(1), stranger);
    }
    if (rig.board.IsTransfer(d.handle)) {
      rig.net.Deliver(d.handle, TftpPacket(4, d.bytes[3]), stranger);
      rig.net.Deliver(d.handle, TftpPacket(4, d.bytes[3]), {kBoardTftp.ip, 2999});
    }
    rig.board.Take(d);
  };
  const std::vector<uint8_t> served = PatternImage(2000);
  ASSERT_EQ(rig.Run(served), kBootServerComplete);
  EXPECT_EQ(rig.net.opened.size(), 4u) << "one transfer, the board's";
  EXPECT_EQ(rig.board.dataBlocks, (std::vector<uint16_t>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(rig.board.image, served);
  ASSERT_EQ(rig.traces.size(), 1u);
  EXPECT_EQ(rig.traces[0],
            "\n    Boot server: read request from 192.168.100.7:2000 ignored, not the board's "
            "address");
}

TEST(BootServer, ReadRequestWithoutBootpStartsTheTransfer) {
  BootRig rig;
  rig.board.wakes = false;
  rig.board.onWait = [&rig](int wait) {
    if (wait == 1) {
      rig.net.Deliver(rig.board.Tftp(), TftpPacket(1), kBoardTftp);
    }
  };
  const std::vector<uint8_t> served = PatternImage(700);
  ASSERT_EQ(rig.Run(served), kBootServerComplete);
  EXPECT_EQ(rig.board.image, served);
}

}  // namespace
}  // namespace kova::test
