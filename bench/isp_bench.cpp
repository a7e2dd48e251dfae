// The old platform's bootloader dialogue (steps 1 to 7, the whole region)
// against a board on the network, timed two ways: through the engine's ISP
// road (steps, line exchange, UDP channel, the real receive thread and worker
// at a pass delay of 0), and through a minimal client that
// sends the same lines on a blocking socket and waits for each answer. The
// difference is what the engine's machinery costs over the board's own pace.
// bench/isp_bench.sh runs it against the emulated board.
//
// Usage: isp_bench engine|minimal INTERFACE BOARD_IP

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/isp_minimal_client.h"
#include "controller/engine.h"
#include "engine_access.h"
#include "isp/isp_dialogue.h"
#include "protocol/channels.h"
#include "protocol/line_exchange.h"
#include "protocol/receive_path.h"

namespace {

using Clock = std::chrono::steady_clock;
using kova::bench::ImageByte;
using kova::bench::kRegion;

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

bool ParseIP(const char* text, uint8_t out[4]) {
  unsigned a[4];
  char end;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a[0], &a[1], &a[2], &a[3], &end) != 4) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (a[i] > 255) {
      return false;
    }
    out[i] = static_cast<uint8_t>(a[i]);
  }
  return true;
}

// --- The engine's road --------------------------------------------------

// The real worker and receive thread run the dialogue: the worker's EEPROM
// machine slot steps it, in an operation that the top-level machine keeps
// open until the dialogue has ended, at a pass delay of 0.
int RunEngine(const std::string& interfaceName, const uint8_t board[4], double& seconds) {
  const std::string dir =
      (std::filesystem::temp_directory_path() /
       ("kova-isp-bench-" + std::to_string(Clock::now().time_since_epoch().count())))
          .string();
  std::filesystem::create_directories(dir);
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
  for (int i = 0; i < kova::EngineTestAccess::Adapters(engine).Count; ++i) {
    if (kova::EngineTestAccess::Adapters(engine).AdapterDesc[i] == interfaceName) {
      sel = i;
    }
  }
  if (sel < 0) {
    std::fprintf(stderr, "isp_bench: no interface %s\n", interfaceName.c_str());
    return 2;
  }
  engine.SelectInterface(sel);
  for (size_t i = 0; i < kRegion; ++i) {
    kova::EngineTestAccess::Op(engine).Buf.AppImage[i] = ImageByte(i);
  }

  enum class Phase { kSocket, kSocketMade, kStep, kStepRuns, kDone };
  Phase phase = Phase::kSocket;
  bool ok = false;
  Clock::time_point start;
  Clock::time_point end;
  // As the engine's own machines do, the script says whether it moved: a
  // worker at delay 0 waits only when nothing did.
  kova::EngineTestAccess::Machines(engine).Eeprom = [&](kova::Operation& e) {
    const auto before = std::make_tuple(e.Record(), phase);
    kova::IspDialogue& isp = e.Isp;
    if (e.Eeprom.State == 0) {
      return false;
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
        e.Eeprom.Done = ok ? 1 : 0;
        e.Eeprom.State = 0;
        break;
    }
    return std::make_tuple(e.Record(), phase) != before;
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
  engine.PostAction(kova::kActionGetEeprom);
  while (engine.OperationsEnded() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  engine.ShutdownAll();
  ticking = false;
  ticker.join();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  seconds = std::chrono::duration<double>(end - start).count();
  if (!ok) {
    std::fprintf(stderr, "isp_bench: the engine's dialogue failed: %s\n", panel.last.c_str());
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
  const int rc = (mode == "engine") ? RunEngine(argv[2], board, seconds)
                                    : kova::bench::RunMinimal(argv[2], board, seconds);
  if (rc == 0) {
    std::printf("%.3f\n", seconds);
  }
  return rc;
}
