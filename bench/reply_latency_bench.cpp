// Prints how long a reply takes from the moment it leaves a peer to the
// moment the worker can read it from the UDP ring, through the real receive
// thread and real sockets on loopback, for a few receive delays. With the
// receive thread waiting in poll() the figure should not follow the delay.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "controller/engine.h"
#include "protocol/receive_path.h"

namespace {

using Clock = std::chrono::steady_clock;

class SilentPanel : public kova::OperatorPanel {
 public:
  void AppendText(const std::string&) override {}
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  kova::OperatorInputs ReadInputs() override { return {}; }
};

// A peer on 127.0.0.1 that answers every datagram with a 5-byte frame.
class EchoPeer {
 public:
  EchoPeer() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

}  // namespace

int main() {
  SilentPanel panel;
  kova::Engine engine(panel);
  engine.Adapters.AdapterDesc[0] = "lo";
  engine.Adapters.AdapterIP[0] = {127, 0, 0, 1};
  engine.Adapters.Count = 1;
  engine.InterfaceCount = 1;
  engine.SelectInterface(0);
  engine.link.Net_Startup();
  engine.DeviceIP[0] = 127;
  engine.DeviceIP[1] = 0;
  engine.DeviceIP[2] = 0;
  engine.DeviceIP[3] = 1;

  EchoPeer peer;
  if (engine.link.UDPSocket_Create(peer.port(), 0) != 1) {
    std::printf("cannot open the UDP client socket on loopback\n");
    return 1;
  }
  std::atomic<bool> stop{false};
  std::thread receiver([&] {
    while (!stop) {
      kova::RecvPass(engine.link);
    }
  });

  const uint8_t request[9] = {0x00, 0x09, 0x81, 0x04, 'R', 'E', 'S', 'E', 'T'};
  for (const int delay : {2, 5, 19}) {
    engine.link.RecvThreadDelay = delay;
    std::vector<double> micros;
    for (int i = 0; i < 200; ++i) {
      const auto start = Clock::now();
      engine.link.UDPSocket_Send(request, sizeof(request));
      int seen = 0;
      while (seen < 6 && Clock::now() - start < std::chrono::seconds(1)) {
        if (kova::UDP_RxAvailable(engine.link)) {
          kova::UDP_RxSkip(engine.link);
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
  engine.link.UDPSocket_Close();
  return 0;
}
