// The old platform's bootloader dialogue (steps 1 to 7, the whole region)
// against a board on the network, timed two ways: through the engine's ISP
// road (steps, line exchange, UDP channel, receive thread and decoder, passes
// back to back as with a pass delay of 0), and through a minimal client that
// sends the same lines on a blocking socket and waits for each answer. The
// difference is what the engine's machinery costs over the board's own pace.
// bench/isp_bench.sh runs it against the emulated board.
//
// Usage: isp_bench engine|minimal INTERFACE BOARD_IP

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller/engine.h"
#include "isp/isp_dialogue.h"
#include "protocol/channels.h"
#include "protocol/line_exchange.h"
#include "protocol/receive_path.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRegion = 516096;
constexpr int kLastStep = 7;

class SilentPanel : public kova::OperatorPanel {
 public:
  void AppendText(const std::string& text) override { last = text; }
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  kova::OperatorInputs ReadInputs() override { return {}; }
  std::string last;
};

uint8_t ImageByte(size_t i) {
  return static_cast<uint8_t>(i * 29 + (i >> 9));
}

bool ParseIP(const char* text, uint8_t out[4]) {
  in_addr addr{};
  if (inet_pton(AF_INET, text, &addr) != 1) {
    return false;
  }
  std::memcpy(out, &addr.s_addr, 4);
  return true;
}

// --- The engine's road --------------------------------------------------

// The state bytes of the machines a pass steps, and the ring's read index.
std::array<uint32_t, 6> Snapshot(const kova::Engine& e) {
  return {e.Isp.IspState,     e.link.LineState,      e.link.UDPState,
          e.link.UDPMsgState, e.link.UDPDecodeState, e.Buf.UDPRxRead.load()};
}

int RunEngine(const std::string& interface, const uint8_t board[4], double& seconds) {
  SilentPanel panel;
  kova::Engine engine(panel);
  engine.LoadAdapters();
  int sel = -1;
  for (int i = 0; i < engine.Adapters.Count; ++i) {
    if (engine.Adapters.AdapterDesc[i] == interface) {
      sel = i;
    }
  }
  if (sel < 0) {
    std::fprintf(stderr, "isp_bench: no interface %s\n", interface.c_str());
    return 2;
  }
  engine.SelectInterface(sel);
  std::memcpy(engine.DeviceIP, board, 4);
  for (size_t i = 0; i < kRegion; ++i) {
    engine.Buf.AppImage[i] = ImageByte(i);
  }
  engine.link.Net_Startup();
  engine.link.RecvThreadDelay = 2;  // as while an operation runs
  if (engine.link.UDPSocket_Create(kova::kBoardCommandPort, 0) != 1) {
    std::fprintf(stderr, "isp_bench: no UDP socket\n");
    return 2;
  }
  // The receive thread wakes a waiting pass loop when it has handed a
  // datagram over, as the worker is woken at a pass delay of 0.
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable handedOver;
  uint64_t arrivals = 0;
  std::thread receiver([&] {
    while (!stop) {
      const uint16_t written = engine.Buf.UDPRxWrite.load();
      kova::RecvPass(engine.link);
      if (engine.Buf.UDPRxWrite.load() != written) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          ++arrivals;
        }
        handedOver.notify_one();
      }
    }
  });
  auto arrived = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return arrivals;
  };

  kova::IspDialogue& isp = engine.Isp;
  isp.Image = engine.Buf.AppImage.get();
  isp.IspStep = 1;
  const auto start = Clock::now();
  auto lastTick = start;
  bool ok = true;
  while (ok && isp.IspStep <= kLastStep) {
    isp.IspState = 1;
    while (isp.IspState != 0) {
      const auto before = Snapshot(engine);
      const uint64_t seen = arrived();
      kova::RunIspStep(isp, isp.IspStep);
      kova::Line_applay(engine.link);
      kova::UDP_applay(engine.link);
      // A pass delay of 0: the next pass at once while the machines move,
      // else a wait for the next datagram, at most about a millisecond.
      if (Snapshot(engine) == before) {
        std::unique_lock<std::mutex> lock(mutex);
        handedOver.wait_for(lock, std::chrono::milliseconds(1), [&] { return arrivals != seen; });
      }
      const auto now = Clock::now();
      if (now - lastTick >= std::chrono::milliseconds(100)) {
        engine.CountdownTick();
        lastTick = now;
      }
    }
    ok = isp.IspDone == 1;
    isp.IspStep = isp.IspNextStep;
  }
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  stop = true;
  receiver.join();
  engine.link.UDPSocket_Close();
  if (!ok) {
    std::fprintf(stderr, "isp_bench: the engine's dialogue failed: %s\n", panel.last.c_str());
    return 1;
  }
  return 0;
}

// --- The minimal client ---------------------------------------------------

class Client {
 public:
  Client(const std::string& interface, const uint8_t board[4]) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, interface.c_str(),
               static_cast<socklen_t>(interface.size()));
    timeval tv{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    to_.sin_family = AF_INET;
    to_.sin_port = htons(kova::kBoardCommandPort);
    std::memcpy(&to_.sin_addr.s_addr, board, 4);
  }
  ~Client() { close(fd_); }

  void Send(const std::string& line) {
    const std::string wire = line + "\r\n";
    sendto(fd_, wire.data(), wire.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
  }

  // The next datagram's first line, without its CR LF; empty on time-out.
  std::string Receive() {
    char buf[1024];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) {
      return "";
    }
    to_.sin_port = from.sin_port;  // follow the bootloader wherever it answers from
    std::string text(buf, static_cast<size_t>(n));
    return text.substr(0, text.find("\r\n"));
  }

  bool Exchange(const std::string& line, const std::string& expected) {
    Send(line);
    return Receive() == expected;
  }

 private:
  int fd_ = -1;
  sockaddr_in to_{};
};

std::string UULine(const uint8_t* data, int count) {
  auto ch = [](int v) { return static_cast<char>(v == 0 ? 0x60 : v + 0x20); };
  std::string line(1, ch(count));
  for (int i = 0; i < count; i += 3) {
    const int b0 = data[i];
    const int b1 = i + 1 < count ? data[i + 1] : 0;
    const int b2 = i + 2 < count ? data[i + 2] : 0;
    line += ch(b0 >> 2);
    line += ch(((b0 << 4) & 0x30) | (b1 >> 4));
    line += ch(((b1 << 2) & 0x3C) | (b2 >> 6));
    if (i + 2 < count) {
      line += ch(b2 & 0x3F);
    } else if (i + 1 < count) {
      line += ch(0);
    }
  }
  return line;
}

int RunMinimal(const std::string& interface, const uint8_t board[4], double& seconds) {
  std::vector<uint8_t> image(kRegion);
  for (size_t i = 0; i < kRegion; ++i) {
    image[i] = ImageByte(i);
  }
  Client c(interface, board);
  const auto start = Clock::now();
  bool ok = true;
  c.Send("?");
  const std::string sync = c.Receive();
  if (sync == "Synchronized") {
    ok = c.Exchange("Synchronized", "OK");
  } else {
    ok = sync == "1";
  }
  for (int i = 0; i < 2 && ok; ++i) {
    ok = c.Exchange("J", "0") && c.Receive() == "637615927";
  }
  c.Send("b");
  ok = ok && !c.Receive().empty();
  for (int s = 29; s >= 2 && ok; --s) {
    const std::string n = std::to_string(s) + " " + std::to_string(s);
    ok = c.Exchange("U 23130", "0") && c.Exchange("P " + n, "0") && c.Exchange("E " + n, "0");
  }
  for (size_t block = 0; block < kRegion && ok; block += 1024) {
    for (int half = 0; half < 2 && ok; ++half) {
      const uint8_t* data = image.data() + block + 512 * static_cast<size_t>(half);
      unsigned sum = 0;
      for (int i = 0; i < 512; ++i) {
        sum += data[i];
      }
      ok = c.Exchange("U 23130", "0") &&
           c.Exchange("W " + std::to_string(268435968 + 512 * half) + " 512", "0");
      for (int i = 0; i < 512 && ok; i += 45) {
        c.Send(UULine(data + i, std::min(45, 512 - i)));
      }
      ok = ok && c.Exchange(std::to_string(sum), "OK");
    }
    ok = ok && c.Exchange("P 0 29", "0") &&
         c.Exchange("C " + std::to_string(block + 8192) + " 268435968 1024", "0");
  }
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "isp_bench: the minimal client's dialogue failed\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  uint8_t board[4];
  if (argc != 4 || !ParseIP(argv[3], board)) {
    std::fprintf(stderr, "usage: isp_bench engine|minimal INTERFACE BOARD_IP\n");
    return 2;
  }
  const std::string mode = argv[1];
  double seconds = 0;
  const int rc =
      (mode == "engine") ? RunEngine(argv[2], board, seconds) : RunMinimal(argv[2], board, seconds);
  if (rc == 0) {
    std::printf("%.3f\n", seconds);
  }
  return rc;
}
