#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/dispatcher.h"
#include "engine_fixture.h"

namespace kova::test {
namespace {

class DispatcherTest : public EngineTest {
 protected:
  // Starts the dispatcher on `step` and steps it alone, pass by pass, until
  // idle again; returns the number of calls it took.
  int RunStep(uint8_t step, int maxCalls = 1000, bool tick = false) {
    engine.ProcStep = step;
    engine.ProcState = 1;
    int calls = 0;
    while (calls < maxCalls) {
      RunProcedure(engine);
      ++calls;
      if (tick) {
        engine.CountdownTick();
      }
      if (engine.ProcState == 0) {
        break;
      }
    }
    return calls;
  }
};

TEST_F(DispatcherTest, StepNumberAboveFourFailsWithoutCallingAnyProcedure) {
  int called = 0;
  for (auto& p : engine.Procedures) {
    p = [&called](Engine&) { ++called; };
  }
  engine.ProcStep = 5;
  engine.ProcState = 1;
  RunProcedure(engine);
  EXPECT_EQ(engine.ProcState, 2);
  RunProcedure(engine);
  EXPECT_EQ(engine.ProcState, STEP_FAIL);
  RunProcedure(engine);
  EXPECT_EQ(engine.ProcState, STEP_END);
  EXPECT_EQ(engine.ProcDone, 0);
  RunProcedure(engine);
  EXPECT_EQ(engine.ProcState, 0);
  EXPECT_EQ(called, 0);
}

TEST_F(DispatcherTest, EndedProcedureGetsOneMoreCallAndTheVerdictIsItsStepDone) {
  for (int verdict : {1, 0}) {
    std::vector<uint8_t> busyAtCall;
    engine.Procedures[3] = [&busyAtCall, verdict](Engine& e) {
      busyAtCall.push_back(e.StepBusy);
      if (e.StepBusy == 1) {
        e.StepBusy = 2;
      } else if (e.StepBusy == 2) {
        e.StepDone = verdict;
        e.StepBusy = 0;
      }
    };
    engine.ProcDone = 7;
    const int calls = RunStep(3);
    EXPECT_EQ(busyAtCall, (std::vector<uint8_t>{1, 2, 0})) << "verdict " << verdict;
    EXPECT_EQ(engine.ProcDone, verdict);
    // 1, three calls in 2, then (3 ->) OK/FAIL, END, idle.
    EXPECT_EQ(calls, verdict == 1 ? 7 : 6);
  }
}

TEST_F(DispatcherTest, UnbuiltProcedureFailsInsteadOfWaiting) {
  const int calls = RunStep(4);
  EXPECT_EQ(engine.ProcDone, 0);
  EXPECT_LT(calls, 10);
  EXPECT_EQ(engine.StepBusy, 0);
}

TEST_F(DispatcherTest, BootloaderUpgradeStepAnnouncesAndSucceedsWithoutTraffic) {
  RunStep(2);
  EXPECT_EQ(engine.ProcDone, 1);
  EXPECT_EQ(panel.list, "\n======KOVA : Bootloader upgrade ... Successful !======");
}

TEST_F(DispatcherTest, BootWaitTakesFifteenSecondsAndFillsTheGauge) {
  engine.Countdown.Set(8, 40);
  engine.ProcStep = 1;
  engine.ProcState = 1;
  RunProcedure(engine);  // 1 -> 2
  RunProcedure(engine);  // announce
  RunProcedure(engine);  // arm the wait
  EXPECT_EQ(engine.Countdown.Get(7), 150);
  EXPECT_EQ(engine.Countdown.Get(8), 0);
  EXPECT_EQ(panel.list, "\n======KOVA : Wait for boot-up ... ");

  int ticks = 0;
  std::vector<int32_t> progress;
  while (engine.ProcState != 0 && ticks < 1000) {
    RunProcedure(engine);
    progress.push_back(engine.Progress.load());
    if (engine.Countdown.Get(7) == 75 && engine.StepBusy == 3) {
      RunProcedure(engine);
      EXPECT_EQ(engine.Progress.load(), 50) << "half-way";
    }
    engine.CountdownTick();
    ++ticks;
  }
  EXPECT_EQ(engine.ProcDone, 1);
  EXPECT_GE(ticks, 150);
  EXPECT_LE(ticks, 160) << "a few passes to report after the wait";
  EXPECT_EQ(panel.list, "\n======KOVA : Wait for boot-up ... Successful !======");
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 99) << "the gauge climbs to 99 while waiting";
}

TEST_F(DispatcherTest, BootWaitDoesNotEndBeforeItsTicks) {
  engine.ProcStep = 1;
  engine.ProcState = 1;
  for (int pass = 0; pass < 5000; ++pass) {
    RunProcedure(engine);
  }
  EXPECT_NE(engine.ProcState, 0) << "without ticks the wait must still be running";
  EXPECT_EQ(engine.StepBusy, 3);
}

}  // namespace
}  // namespace kova::test
