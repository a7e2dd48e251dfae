#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "controller/engine.h"
#include "engine_access.h"
#include "fake_neighbour_table.h"
#include "fake_net.h"
#include "recording_panel.h"
#include "step_until.h"
#include "temp_dir.h"

namespace kova::test {

// A working directory with a configuration file and an application image.
class WorkDir {
 public:
  const std::string& path() const { return dir_.path(); }

  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(path() + "/" + name, std::ios::binary) << content;
  }

  // A valid configuration that loads the application image "app.bin".
  void WriteConfig(const std::string& jump, const std::string& runStep = "3") const {
    Write("KOVA_Config.cfg", "[KOVA_CFG_START]\r\n" + runStep + "\r\n" + jump +
                                 "\r\napp.bin\r\nbl.bin\r\nupbl.bin\r\n[KOVA_CFG_END]\r\n");
  }

  // An application image carrying the old and/or the new platform's signature.
  void WriteImage(bool oldSignature, bool newSignature) const {
    std::string image(0x7D000, '\0');
    if (newSignature) {
      image[0x13E] = '\xAA';
      image[0x13F] = '\x55';
    }
    if (oldSignature) {
      image[0x7CFF0] = '\xAA';
      image[0x7CFF1] = '\x55';
    }
    Write("app.bin", image);
  }

 private:
  TempDir dir_;
};

// An engine stepped by hand on an in-memory network and neighbour table: one adapter "eth1" at
// 192.168.100.1 and a board MAC typed in; the lower machines are the
// engine's own unless the test installs scripts.
class EngineTest : public ::testing::Test {
 protected:
  explicit EngineTest(EngineTimings timings = {})
      : net(new FakeNet),
        neighbours(new FakeNeighbourTable),
        engine(panel, dir.path(), std::unique_ptr<NetPlatform>(net),
               std::unique_ptr<NeighbourTable>(neighbours), timings),
        op(EngineTestAccess::Op(engine)),
        link(EngineTestAccess::LinkOf(engine)),
        machines(EngineTestAccess::Machines(engine)),
        adapters(EngineTestAccess::Adapters(engine)),
        dispatcher(EngineTestAccess::Dispatcher(engine)),
        mainState(EngineTestAccess::MainState(engine)) {
    adapters.AdapterDesc[0] = "eth1";
    adapters.AdapterIP[0] = {192, 168, 100, 1};
    adapters.Count = 1;
    engine.SetInterfaceCount(1);
    engine.SelectInterface(0);
    panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
  }

  // Runs the start-up pass; the engine is then idle.
  void StartUp() {
    engine.RunPass();
    ASSERT_EQ(mainState.load(), 0);
  }

  // Posts `action` and runs passes until the operation has ended and the idle
  // step has run; ticks the countdowns every `passesPerTick` passes.
  void RunAction(int32_t action, int maxPasses = 10000, int passesPerTick = 1) {
    ASSERT_TRUE(engine.PostAction(action));
    const int before = engine.OperationsEnded();
    StepUntil(engine, [&] { return engine.OperationsEnded() != before; },
              {maxPasses, passesPerTick, false});
    ASSERT_EQ(engine.OperationsEnded(), before + 1) << "the operation did not end";
    ASSERT_EQ(mainState.load(), 0);
  }

  WorkDir dir;
  RecordingPanel panel;
  FakeNet* net;                    // owned by the engine
  FakeNeighbourTable* neighbours;  // owned by the engine
  Engine engine;
  // The engine's own parts that the tests script and check.
  Operation& op;
  Link& link;
  LowerMachines& machines;
  AdapterTable& adapters;
  DispatcherRecord& dispatcher;
  std::atomic<uint8_t>& mainState;
};

}  // namespace kova::test
