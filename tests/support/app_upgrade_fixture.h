#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "isp_board_peer.h"
#include "protocol/receive_path.h"
#include "step_until.h"

namespace kova::test {

using Bytes = std::vector<uint8_t>;

constexpr size_t kRegion = 516096;
const std::array<uint8_t, 4> kBoardIP = {192, 168, 100, 2};
const std::array<uint8_t, 6> kBoardMAC = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const std::array<uint8_t, 6> kOtherMAC = {0x02, 0x00, 0x00, 0x00, 0x00, 0x99};

// The application upgrade on its own (DISABLE), from the press to the idle
// step, against an old-platform board on the in-memory network.
class AppUpgradeTest : public EngineTest {
 protected:
  // A failing removal of the neighbour entry is tried again on every pass.
  static EngineTimings EveryPass() {
    EngineTimings timings;
    timings.neighbourRetryPause = std::chrono::milliseconds(0);
    return timings;
  }

  AppUpgradeTest() : EngineTest(EveryPass()), board(*net) {
    panel.recordTraces = false;
    dir.WriteConfig("DISABLE");
    WriteImage(0x7D000);
    StartUp();
  }

  // An old-platform image of `size` bytes; `tail` fills what lies past the
  // region.
  Bytes WriteImage(size_t size, uint8_t tail = 0x5A) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) {
      image[i] = (i < kRegion) ? static_cast<uint8_t>(i * 29 + (i >> 9)) : tail;
    }
    image[0x7CFF0] = 0xAA;
    image[0x7CFF1] = 0x55;
    dir.Write("app.bin", std::string(image.begin(), image.end()));
    return image;
  }

  void Upgrade(int32_t action = kActionUpgrade) {
    ASSERT_TRUE(engine.PostAction(action));
    const int before = engine.OperationsEnded();
    const int ticks = TicksUntil(
        engine,
        [this] {
          RecvPass(link);
          engine.RunPass();
          // Passes must not outrun a boot server thread that the system
          // has not scheduled yet: the backstop counts their ticks. (A
          // sleep of less than a millisecond is none on Windows.)
          if (op.BootServerThread.Started() && op.BootServerThread.Exited.load() == 0) {
            op.BootServerThread.AwaitExit(std::chrono::milliseconds(1));
          }
        },
        [&] { return engine.OperationsEnded() > before; });
    ASSERT_GE(ticks, 0) << "the upgrade never ended";
  }

  // From now on the board answers its first line ("?") only, calling
  // `atFirst` when it takes it.
  static void AnswerOnlyFirstLine(IspBoardPeer& peer, std::function<void()> atFirst = nullptr) {
    peer.script = [atFirst, taken = 0](int, const std::string&,
                                       std::vector<std::string>& out) mutable {
      if (taken++ == 0 && atFirst) {
        atFirst();
      }
      out.clear();
      return taken > 1;
    };
  }

  bool Traced(const std::string& text) const {
    return std::find(panel.traces.begin(), panel.traces.end(), text) != panel.traces.end();
  }

  // The board's permanent entry as the fake table holds it, if any.
  const NeighbourEntry* Entry() {
    return FindNeighbour(neighbours->rows, neighbours->routeIfindex, kBoardIP.data());
  }

  IspBoardPeer board;
};

}  // namespace kova::test
