// The old platform's bootloader dialogue (steps 1 to 7, the whole region)
// against a board on the network, timed two ways: through the engine's ISP
// road (steps, line exchange, UDP channel, the real receive thread and worker
// at a pass delay of 0), and through a minimal client that
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
  kova::OperatorInputs inputs;
  void AppendText(const std::string& text) override { last = text; }
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  kova::OperatorInputs ReadInputs() override { return inputs; }
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

// The real worker and receive thread run the dialogue: the worker's EEPROM
// machine slot steps it, in an operation that the top-level machine keeps
// open until the dialogue has ended, at a pass delay of 0.
int RunEngine(const std::string& interfaceName, const uint8_t board[4], double& seconds) {
  char dirTemplate[] = "/tmp/kova-isp-bench-XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  if (FILE* f = std::fopen((dir + "/KOVA_Config.cfg").c_str(), "wb")) {
    std::fputs(
        "[KOVA_CFG_START]\r\n0\r\nENABLE\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n"
        "[KOVA_CFG_END]\r\n",
        f);
    std::fclose(f);
  }
  SilentPanel panel;
  panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
  panel.inputs.ipField = std::to_string(board[0]) + "." + std::to_string(board[1]) + "." +
                         std::to_string(board[2]) + "." + std::to_string(board[3]);
  panel.inputs.delayIndex = 0;
  kova::Engine engine(panel, dir);
  engine.LoadAdapters();
  int sel = -1;
  for (int i = 0; i < engine.Adapters.Count; ++i) {
    if (engine.Adapters.AdapterDesc[i] == interfaceName) {
      sel = i;
    }
  }
  if (sel < 0) {
    std::fprintf(stderr, "isp_bench: no interface %s\n", interfaceName.c_str());
    return 2;
  }
  engine.SelectInterface(sel);
  for (size_t i = 0; i < kRegion; ++i) {
    engine.Buf.AppImage[i] = ImageByte(i);
  }

  enum class Phase { kSocket, kSocketMade, kStep, kStepRuns, kDone };
  Phase phase = Phase::kSocket;
  bool ok = false;
  Clock::time_point start;
  Clock::time_point end;
  engine.EepromMachine = [&](kova::Engine& e) {
    kova::IspDialogue& isp = e.Isp;
    if (e.EepromState == 0) {
      return;
    }
    switch (phase) {
      case Phase::kSocket:
        if (kova::UDP_Create(e.link, kova::kBoardCommandPort, 0) == 1) {
          phase = Phase::kSocketMade;
        }
        break;
      case Phase::kSocketMade:
        if (kova::UDP_IsIdle(e.link)) {
          isp.Image = e.Buf.AppImage.get();
          isp.IspStep = 1;
          start = Clock::now();
          phase = (kova::UDP_Result(e.link) == 1) ? Phase::kStep : Phase::kDone;
        }
        break;
      case Phase::kStep:
        if (isp.IspStep > kLastStep) {
          ok = true;
          phase = Phase::kDone;
        } else {
          isp.IspState = 1;
          phase = Phase::kStepRuns;
        }
        break;
      case Phase::kStepRuns:
        kova::RunIspStep(isp, isp.IspStep);
        if (isp.IspState == 0) {
          if (isp.IspDone == 1) {
            isp.IspStep = isp.IspNextStep;
            phase = Phase::kStep;
          } else {
            phase = Phase::kDone;
          }
        }
        break;
      case Phase::kDone:
        end = Clock::now();
        e.EepromDone = ok ? 1 : 0;
        e.EepromState = 0;
        break;
    }
  };
  std::atomic<bool> ticking{true};
  std::thread ticker([&] {
    while (ticking) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      engine.CountdownTick();
    }
  });
  engine.StartThreads();
  while (engine.MainState.load() != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  engine.PostAction(kova::kActionGetEeprom);
  while (engine.OperationsEnded() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  engine.ShutdownAll();
  ticking = false;
  ticker.join();
  std::remove((dir + "/KOVA_Config.cfg").c_str());
  rmdir(dir.c_str());
  seconds = std::chrono::duration<double>(end - start).count();
  if (!ok) {
    std::fprintf(stderr, "isp_bench: the engine's dialogue failed: %s\n", panel.last.c_str());
    return 1;
  }
  return 0;
}

// --- The minimal client ---------------------------------------------------

class Client {
 public:
  Client(const std::string& interfaceName, const uint8_t board[4]) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
               static_cast<socklen_t>(interfaceName.size()));
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

int RunMinimal(const std::string& interfaceName, const uint8_t board[4], double& seconds) {
  std::vector<uint8_t> image(kRegion);
  for (size_t i = 0; i < kRegion; ++i) {
    image[i] = ImageByte(i);
  }
  Client c(interfaceName, board);
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
