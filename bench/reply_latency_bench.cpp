// Prints how long a reply takes on loopback, through real sockets:
//  - from the request to the reply in the UDP ring, through the real receive
//    thread, for a few receive delays; with the receive thread waiting in
//    poll() the figure should not follow the delay;
//  - from the request to the reply decoded by the real worker, for a few pass
//    delays; at delay 0 the worker waits for the datagram, not for a sleep.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "controller/engine.h"
#include "engine_access.h"
#include "protocol/receive_path.h"

namespace {

using Clock = std::chrono::steady_clock;

class SilentPanel : public kova::OperatorPanel {
 public:
  kova::OperatorInputs inputs;

 public:
  void AppendText(const std::string&) override {}
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  kova::OperatorInputs ReadInputs() override { return inputs; }
};

// A peer on 127.0.0.1 that answers every datagram with a 5-byte frame.
class EchoPeer {
 public:
  EchoPeer() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_ANY);  // every 127.x address of lo
    bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
    socklen_t len = sizeof(sa);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
    timeval tv{0, 100000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    thread_ = std::thread([this] { Run(); });
  }
  ~EchoPeer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  void Run() {
    uint8_t buf[64];
    const uint8_t reply[5] = {0x00, 0x05, 0x81, 0x20, 0x06};
    while (!stop_) {
      sockaddr_in from{};
      socklen_t len = sizeof(from);
      if (recvfrom(fd_, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len) > 0) {
        sendto(fd_, reply, sizeof(reply), 0, reinterpret_cast<sockaddr*>(&from), len);
      }
    }
  }
  int fd_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The worker's own loop: a request machine, run by the worker thread in the
// place of the version machine, sends on the UDP client and waits for the
// reply that the UDP frame decoder hands to the reply handler.
void WorkerLatency(uint16_t port) {
  char dirTemplate[] = "/tmp/kova-bench-XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  if (FILE* f = std::fopen((dir + "/KOVA_Config.cfg").c_str(), "wb")) {
    std::fputs(
        "[KOVA_CFG_START]\r\n0\r\nENABLE\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n"
        "[KOVA_CFG_END]\r\n",
        f);
    std::fclose(f);
  }
  const uint8_t request[9] = {0x00, 0x09, 0x81, 0x04, 'R', 'E', 'S', 'E', 'T'};
  for (const int delay : {0, 1, 5}) {
    SilentPanel panel;
    panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
    panel.inputs.delayIndex = delay;
    kova::Engine engine(panel, dir);
    kova::EngineTestAccess::Adapters(engine).AdapterDesc[0] = "lo";
    kova::EngineTestAccess::Adapters(engine).AdapterIP[0] = {127, 0, 0, 1};
    kova::EngineTestAccess::Adapters(engine).Count = 1;
    engine.SetInterfaceCount(1);
    std::vector<double> micros;
    Clock::time_point sentAt;
    bool waiting = false;
    kova::EngineTestAccess::Machines(engine).VerCfg = [&](kova::Operation& e) {
      // Moved when it took a reply or sent a request, as the engine's own
      // machines tell it.
      const auto before = std::make_tuple(e.Record(), waiting, micros.size());
      if (e.VerCfg.State == 1) {
        e.link.UDPSocket_Create(port, 0);
        e.link.UDPOp = 1;  // replies are read as frames
        e.VerCfg.State = 2;
      } else if (e.VerCfg.State == 2) {
        if (waiting && e.Buf.UDPReply_Get(10) == 1) {
          micros.push_back(
              std::chrono::duration<double, std::micro>(Clock::now() - sentAt).count());
          waiting = false;
        }
        if (!waiting && micros.size() < 300) {
          e.Buf.UDPReply_Set(10, 0);
          sentAt = Clock::now();
          e.link.UDPSocket_Send(request, sizeof(request));
          waiting = true;
        } else if (micros.size() >= 300) {
          e.VerCfg.Done = 1;
          e.VerCfg.State = 0;
        }
      }
      return std::make_tuple(e.Record(), waiting, micros.size()) != before;
    };
    std::atomic<bool> ticking{true};
    std::thread ticker([&] {
      while (ticking) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        engine.CountdownTick();
      }
    });
    engine.StartThreads();
    while (kova::EngineTestAccess::MainState(engine).load() != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    engine.PostAction(kova::kActionGetVersion);
    while (engine.OperationsEnded() == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    engine.ShutdownAll();
    ticking = false;
    ticker.join();
    if (micros.empty()) {
      std::printf("pass delay %2d ms: no reply decoded\n", delay);
      continue;
    }
    std::sort(micros.begin(), micros.end());
    std::printf(
        "pass delay %2d ms: request to reply decoded by the worker  median %7.1f us  "
        "p90 %7.1f us\n",
        delay, micros[micros.size() / 2], micros[micros.size() * 9 / 10]);
  }
  std::remove((dir + "/KOVA_Config.cfg").c_str());
  rmdir(dir.c_str());
}

}  // namespace

int main() {
  SilentPanel panel;
  kova::Engine engine(panel);
  kova::EngineTestAccess::Adapters(engine).AdapterDesc[0] = "lo";
  kova::EngineTestAccess::Adapters(engine).AdapterIP[0] = {127, 0, 0, 1};
  kova::EngineTestAccess::Adapters(engine).Count = 1;
  engine.SetInterfaceCount(1);
  engine.SelectInterface(0);
  kova::EngineTestAccess::LinkOf(engine).Net_Startup();
  kova::EngineTestAccess::Op(engine).DeviceIP[0] = 127;
  kova::EngineTestAccess::Op(engine).DeviceIP[1] = 0;
  kova::EngineTestAccess::Op(engine).DeviceIP[2] = 0;
  kova::EngineTestAccess::Op(engine).DeviceIP[3] = 1;

  EchoPeer peer;
  if (kova::EngineTestAccess::LinkOf(engine).UDPSocket_Create(peer.port(), 0) != 1) {
    std::printf("cannot open the UDP client socket on loopback\n");
    return 1;
  }
  std::atomic<bool> stop{false};
  std::thread receiver([&] {
    while (!stop) {
      kova::RecvPass(kova::EngineTestAccess::LinkOf(engine));
    }
  });

  const uint8_t request[9] = {0x00, 0x09, 0x81, 0x04, 'R', 'E', 'S', 'E', 'T'};
  for (const int delay : {2, 5, 19}) {
    kova::EngineTestAccess::LinkOf(engine).RecvThreadDelay = delay;
    std::vector<double> micros;
    for (int i = 0; i < 200; ++i) {
      const auto start = Clock::now();
      kova::EngineTestAccess::LinkOf(engine).UDPSocket_Send(request, sizeof(request));
      int seen = 0;
      while (seen < 6 && Clock::now() - start < std::chrono::seconds(1)) {
        if (kova::UDP_RxAvailable(kova::EngineTestAccess::LinkOf(engine))) {
          kova::UDP_RxSkip(kova::EngineTestAccess::LinkOf(engine));
          ++seen;
        }
      }
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("receive delay %2d ms: request to reply in ring  median %7.1f us  p90 %7.1f us\n",
                delay, micros[micros.size() / 2], micros[micros.size() * 9 / 10]);
  }
  stop = true;
  receiver.join();
  kova::EngineTestAccess::LinkOf(engine).UDPSocket_Close();
  WorkerLatency(peer.port());
  return 0;
}
