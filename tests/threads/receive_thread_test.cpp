#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;

// An in-memory network that also notices a receive or send on a handle that
// is no longer open: the sign of a socket closed under the receive thread.
class WatchfulNet : public FakeNet {
 public:
  int RecvFrom(int handle, uint8_t* buffer, size_t capacity, UdpEndpoint& from) override {
    if (!IsOpen(handle)) {
      onClosedHandle.fetch_add(1);
    }
    return FakeNet::RecvFrom(handle, buffer, capacity, from);
  }
  int SendTo(int handle, const uint8_t* data, size_t length, const UdpEndpoint& to) override {
    if (!IsOpen(handle)) {
      onClosedHandle.fetch_add(1);
    }
    return FakeNet::SendTo(handle, data, length, to);
  }

  std::atomic<int> onClosedHandle{0};
};

// A "GET_MODELNAME" reply carrying a sequence number as the name.
std::vector<uint8_t> NameReply(int sequence) {
  char name[17] = {};
  std::snprintf(name, sizeof(name), "N%05d", sequence);
  std::vector<uint8_t> frame(20, 0);
  frame[1] = 0x14;
  frame[2] = 0x81;
  frame[3] = 0x1F;
  for (int i = 0; i < 16; ++i) {
    frame[4 + i] = static_cast<uint8_t>(name[i]);
  }
  return frame;
}

// A "FWVER_REQ" reply carrying a sequence number as the version.
std::vector<uint8_t> VersionReply(int sequence) {
  return {0x00,
          0x06,
          0x80,
          0x01,
          static_cast<uint8_t>(sequence >> 8),
          static_cast<uint8_t>(sequence & 0xFF)};
}

int SequenceOf(const std::string& name) {
  int sequence = -1;
  return std::sscanf(name.c_str(), "N%5d", &sequence) == 1 ? sequence : -1;
}

int OpenHandle(SocketRecord& sock) {
  std::lock_guard<std::mutex> lock(sock.lock);
  return sock.open ? sock.handle : -1;
}

// An engine on the watchful network whose worker runs one version request:
// the request opens both sockets and lasts until the test says it is done,
// while the channels' places are taken by the decoders alone, which collect
// what they decode.
class ReceiveThreadTest : public ::testing::Test {
 protected:
  ReceiveThreadTest()
      : net(new WatchfulNet), engine(panel, dir.path(), std::unique_ptr<NetPlatform>(net)) {
    EngineTestAccess::Adapters(engine).AdapterDesc[0] = "eth1";
    EngineTestAccess::Adapters(engine).AdapterIP[0] = {192, 168, 100, 1};
    EngineTestAccess::Adapters(engine).Count = 1;
    engine.SetInterfaceCount(1);
    engine.SelectInterface(0);
    panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
    panel.inputs.delayIndex = 0;
    dir.WriteConfig("ENABLE");
    dir.WriteImage(true, false);

    // The decoders alone, each reply counted as it is taken; the worker
    // passes on at once (moved) while decoding.
    EngineTestAccess::Machines(engine).Broadcast = [this](Link& l) {
      if (!decoding.load()) {
        return false;
      }
      Boradcast_RecvDecode(l);
      if (l.Buf.DeviceRecord_Get(4) == 1) {
        versions.push_back(l.Buf.DeviceRecord_Get(5) * 256 + l.Buf.DeviceRecord_Get(6));
        l.Buf.DeviceRecord_Set(4, 0);
        versionsDecoded.fetch_add(1);
      }
      return true;
    };
    EngineTestAccess::Machines(engine).UDP = [this](Link& l) {
      if (!decoding.load()) {
        return false;
      }
      UDP_RecvDecode(l);
      if (l.Buf.UDPReply_Get(11) == 1) {
        names.emplace_back(reinterpret_cast<const char*>(&l.Buf.UDPReply[12]), 16);
        l.Buf.UDPReply_Set(11, 0);
        namesDecoded.fetch_add(1);
      }
      return true;
    };
  }

  // Starts the threads and the request; returns once both sockets have sent
  // their first request (before it nothing that arrives can be an answer).
  void StartRequest(std::function<void(Operation&)> whileRunning) {
    EngineTestAccess::Machines(engine).VerCfg = [this, whileRunning](Operation& e) {
      if (e.VerCfg.State == 1) {
        e.link.BroadcastSocket_Create();
        e.link.UDPSocket_Create(kBoardCommandPort, 5003);
        // The first requests: what arrives after them may be an answer.
        const uint8_t request = 0;
        e.link.BroadcastSocket_Send(&request, 1);
        e.link.UDPSocket_Send(&request, 1);
        e.VerCfg.Done = 0;
        e.VerCfg.State = 2;
      } else if (e.VerCfg.State == 2) {
        if (whileRunning) {
          whileRunning(e);
        }
        if (finish.load()) {
          e.VerCfg.Done = 1;
          e.VerCfg.State = 0;
        }
      }
      return true;
    };
    engine.StartThreads();
    ASSERT_TRUE(WaitFor([&] { return EngineTestAccess::MainState(engine).load() == 0; }));
    ASSERT_TRUE(engine.PostAction(kActionGetVersion));
    ASSERT_TRUE(WaitFor([&] {
      return OpenHandle(EngineTestAccess::LinkOf(engine).BroadcastSocket) >= 0 &&
             OpenHandle(EngineTestAccess::LinkOf(engine).UDPSocket) >= 0 && net->Sent().size() >= 2;
    }));
  }

  void FinishRequest() {
    finish = true;
    ASSERT_TRUE(WaitFor([&] { return engine.OperationsEnded() == 1; }));
    engine.ShutdownAll();
  }

  WorkDir dir;
  RecordingPanel panel;
  WatchfulNet* net;  // owned by the engine
  Engine engine;
  std::atomic<bool> finish{false};
  std::atomic<bool> decoding{true};
  // Written by the worker; read by the test once the threads have ended.
  std::vector<int> versions;
  std::vector<std::string> names;
  std::atomic<int> versionsDecoded{0};
  std::atomic<int> namesDecoded{0};
};

TEST_F(ReceiveThreadTest, EveryDatagramIsDecodedWholeOrCountedAsDropped) {
  StartRequest(nullptr);
  const int broadcast = OpenHandle(EngineTestAccess::LinkOf(engine).BroadcastSocket);
  const int udp = OpenHandle(EngineTestAccess::LinkOf(engine).UDPSocket);
  // First more than a ring holds while the worker does not decode: 8,191
  // bytes take 390 name replies (21 bytes with the marker) and 1,170 version
  // replies (7 bytes); every further one is dropped whole.
  decoding = false;
  int sent = 0;
  for (; sent < 1500; ++sent) {
    net->Deliver(udp, NameReply(sent));
    net->Deliver(broadcast, VersionReply(sent));
  }
  ASSERT_TRUE(WaitFor([&] {
    return EngineTestAccess::LinkOf(engine).UDPRxDropped.load() == 1500u - 390u &&
           EngineTestAccess::LinkOf(engine).BroadcastRxDropped.load() == 1500u - 1170u;
  })) << EngineTestAccess::LinkOf(engine).UDPRxDropped.load()
      << " " << EngineTestAccess::LinkOf(engine).BroadcastRxDropped.load();

  // Then the worker decodes while more replies stream in, faster than it reads.
  decoding = true;
  for (; sent < 4000; ++sent) {
    net->Deliver(udp, NameReply(sent));
    net->Deliver(broadcast, VersionReply(sent));
    if (sent % 16 == 0) {
      std::this_thread::sleep_for(100us);
    }
  }
  ASSERT_TRUE(WaitFor([&] {
    return namesDecoded.load() +
                   static_cast<int>(EngineTestAccess::LinkOf(engine).UDPRxDropped.load()) ==
               sent &&
           versionsDecoded.load() +
                   static_cast<int>(EngineTestAccess::LinkOf(engine).BroadcastRxDropped.load()) ==
               sent;
  })) << "names "
      << namesDecoded.load() << " + " << EngineTestAccess::LinkOf(engine).UDPRxDropped.load()
      << ", versions " << versionsDecoded.load() << " + "
      << EngineTestAccess::LinkOf(engine).BroadcastRxDropped.load();
  FinishRequest();
  EXPECT_GT(names.size(), 390u) << "decoding went on after the overflow";

  // In order and intact: a datagram lost in part would shift every frame behind it.
  int last = -1;
  for (const std::string& name : names) {
    const int sequence = SequenceOf(name);
    ASSERT_GT(sequence, last) << name;
    ASSERT_EQ(name, std::string(reinterpret_cast<const char*>(NameReply(sequence).data() + 4), 16));
    last = sequence;
  }
  last = -1;
  for (int version : versions) {
    ASSERT_GT(version, last);
    ASSERT_LT(version, 4000);
    last = version;
  }
  EXPECT_EQ(net->onClosedHandle.load(), 0);
  EXPECT_EQ(net->OpenCount(), 0);
}

TEST_F(ReceiveThreadTest, ClosingAndRecreatingIsAHandOverWithTheReceiveThread) {
  std::atomic<int> recreated{0};
  StartRequest([&recreated](Operation& e) {
    if (recreated.load() < 300) {
      e.link.UDPSocket_Close();
      e.link.UDPSocket_Create(kBoardCommandPort, 5003);
      const uint8_t probe = 0x55;
      e.link.UDPSocket_Send(&probe, 1);
      recreated.fetch_add(1);
    }
  });
  int delivered = 0;
  while (recreated.load() < 300) {
    const int udp = OpenHandle(EngineTestAccess::LinkOf(engine).UDPSocket);
    if (udp >= 0) {
      net->Deliver(udp, NameReply(delivered++), {{192, 168, 100, 7}, 6000});
    }
    std::this_thread::sleep_for(50us);
  }
  FinishRequest();

  EXPECT_EQ(net->onClosedHandle.load(), 0) << "a socket was used after it was closed";
  EXPECT_EQ(net->OpenCount(), 0);
  EXPECT_EQ(net->opened.size(), 302u);  // the first two, then one per re-create
  for (const std::string& name : names) {
    ASSERT_GE(SequenceOf(name), 0) << name;
  }
  // Each probe went to the board or to the last sender, never to a mix of both.
  UdpEndpoint board;
  std::copy(EngineTestAccess::Op(engine).DeviceIP, EngineTestAccess::Op(engine).DeviceIP + 4,
            board.ip.begin());
  board.port = kBoardCommandPort;
  const UdpEndpoint sender{{192, 168, 100, 7}, 6000};
  const std::array<uint8_t, 4> everyone{255, 255, 255, 255};
  for (const FakeNet::Datagram& d : net->Sent()) {
    if (d.peer.ip == everyone) {
      continue;  // the broadcast socket's first request
    }
    const bool toBoard = d.peer.ip == board.ip && d.peer.port == board.port;
    const bool toSender = d.peer.ip == sender.ip && d.peer.port == sender.port;
    ASSERT_TRUE(toBoard || toSender);
  }
}

}  // namespace
}  // namespace kova::test
