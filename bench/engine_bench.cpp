// Prints what the engine's hot paths cost on this machine: the idle worker
// pass, the countdown tick and the configuration load with full-size images.
// Figures only; nothing here asserts a time.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "controller/engine.h"
#include "engine_access.h"

namespace {

class SilentPanel : public kova::OperatorPanel {
 public:
  void AppendText(const std::string&) override {}
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  kova::OperatorInputs ReadInputs() override { return {}; }
};

template <typename F>
double NanosPerCall(int calls, F&& f) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    f();
  }
  const auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(end - start).count() / calls;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/kova-bench-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  {
    std::ofstream(dir + "/KOVA_Config.cfg", std::ios::binary)
        << "[KOVA_CFG_START]\r\n5\r\nENABLE\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n";
    std::ofstream(dir + "/app.bin", std::ios::binary) << std::string(1572864, '\x5A');
    std::ofstream(dir + "/bl.bin", std::ios::binary) << std::string(8192, '\x5A');
    std::ofstream(dir + "/upbl.bin", std::ios::binary) << std::string(1048576, '\x5A');
  }
  SilentPanel panel;
  kova::Engine engine(panel, dir);
  engine.RunPass();  // start-up

  const double pass = NanosPerCall(200000, [&] { engine.RunPass(); });
  const double tick = NanosPerCall(1000000, [&] { engine.CountdownTick(); });
  const double load = NanosPerCall(50, [&] { kova::EngineTestAccess::LoadUpgradeFile(engine); });
  std::printf("idle worker pass:            %10.0f ns\n", pass);
  std::printf("countdown tick (10 counters): %9.0f ns\n", tick);
  std::printf("configuration + 2.5 MiB images load: %.2f ms\n", load / 1e6);
  std::filesystem::remove_all(dir);
  return 0;
}
