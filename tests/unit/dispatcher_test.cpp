#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/countdown_slots.h"
#include "engine_fixture.h"

namespace kova::test {
namespace {

class DispatcherTest : public EngineTest {
 protected:
  // Starts the dispatcher on `step` and steps it alone, pass by pass, until
  // idle again; returns the number of calls it took.
  int RunStep(uint8_t step, int maxCalls = 1000, bool tick = false) {
    dispatcher.ProcStep = step;
    dispatcher.ProcState = 1;
    int calls = 0;
    while (calls < maxCalls) {
      EngineTestAccess::RunProcedure(engine);
      ++calls;
      if (tick) {
        engine.CountdownTick();
      }
      if (dispatcher.ProcState == 0) {
        break;
      }
    }
    return calls;
  }
};

TEST_F(DispatcherTest, StepNumberAboveFourFailsWithoutCallingAnyProcedure) {
  int called = 0;
  for (auto& p : machines.Procedures) {
    p = [&called](Operation&) { return ++called > 0; };
  }
  dispatcher.ProcStep = 5;
  dispatcher.ProcState = 1;
  EngineTestAccess::RunProcedure(engine);
  EXPECT_EQ(dispatcher.ProcState, 2);
  EngineTestAccess::RunProcedure(engine);
  EXPECT_EQ(dispatcher.ProcState, STEP_FAIL);
  EngineTestAccess::RunProcedure(engine);
  EXPECT_EQ(dispatcher.ProcState, STEP_END);
  EXPECT_EQ(dispatcher.ProcDone, 0);
  EngineTestAccess::RunProcedure(engine);
  EXPECT_EQ(dispatcher.ProcState, 0);
  EXPECT_EQ(called, 0);
}

TEST_F(DispatcherTest, EndedProcedureGetsOneMoreCallAndTheVerdictIsItsStepDone) {
  for (int verdict : {1, 0}) {
    std::vector<uint8_t> busyAtCall;
    machines.Procedures[3] = [&busyAtCall, verdict](Operation& e) {
      busyAtCall.push_back(e.Step.Busy);
      if (e.Step.Busy == 1) {
        e.Step.Busy = 2;
      } else if (e.Step.Busy == 2) {
        e.Step.Done = verdict;
        e.Step.Busy = 0;
      }
      return true;
    };
    dispatcher.ProcDone = 7;
    const int calls = RunStep(3);
    EXPECT_EQ(busyAtCall, (std::vector<uint8_t>{1, 2, 0})) << "verdict " << verdict;
    EXPECT_EQ(dispatcher.ProcDone, verdict);
    // 1, three calls in 2, then (3 ->) OK/FAIL, END, idle.
    EXPECT_EQ(calls, verdict == 1 ? 7 : 6);
  }
}

TEST_F(DispatcherTest, ProcedureThatCannotStartFailsInsteadOfWaiting) {
  const int calls = RunStep(4);
  EXPECT_EQ(dispatcher.ProcDone, 0);
  EXPECT_LT(calls, 10);
  EXPECT_EQ(op.Step.Busy, 0);
}

TEST_F(DispatcherTest, BootloaderUpgradeStepAnnouncesAndSucceedsWithoutTraffic) {
  RunStep(2);
  EXPECT_EQ(dispatcher.ProcDone, 1);
  EXPECT_EQ(panel.list, "\n======KOVA : Bootloader upgrade ... Successful !======");
}

TEST_F(DispatcherTest, BootWaitTakesFifteenSecondsAndFillsTheGauge) {
  op.Countdown.Set(countdown::kProgressPace, 40);
  dispatcher.ProcStep = 1;
  dispatcher.ProcState = 1;
  EngineTestAccess::RunProcedure(engine);  // 1 -> 2
  EngineTestAccess::RunProcedure(engine);  // announce
  EngineTestAccess::RunProcedure(engine);  // arm the wait
  EXPECT_EQ(op.Countdown.Get(countdown::kBootWait), 150);
  EXPECT_EQ(op.Countdown.Get(countdown::kProgressPace), 0);
  EXPECT_EQ(panel.list, "\n======KOVA : Wait for boot-up ... ");

  int ticks = 0;
  std::vector<int32_t> progress;
  while (dispatcher.ProcState != 0 && ticks < 1000) {
    EngineTestAccess::RunProcedure(engine);
    progress.push_back(op.Progress.load());
    if (op.Countdown.Get(countdown::kBootWait) == 75 && op.Step.Busy == 3) {
      EngineTestAccess::RunProcedure(engine);
      EXPECT_EQ(op.Progress.load(), 50) << "half-way";
    }
    engine.CountdownTick();
    ++ticks;
  }
  EXPECT_EQ(dispatcher.ProcDone, 1);
  EXPECT_GE(ticks, 150);
  EXPECT_LE(ticks, 160) << "a few passes to report after the wait";
  EXPECT_EQ(panel.list, "\n======KOVA : Wait for boot-up ... Successful !======");
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 99) << "the gauge climbs to 99 while waiting";
}

TEST_F(DispatcherTest, BootWaitDoesNotEndBeforeItsTicks) {
  dispatcher.ProcStep = 1;
  dispatcher.ProcState = 1;
  for (int pass = 0; pass < 5000; ++pass) {
    EngineTestAccess::RunProcedure(engine);
  }
  EXPECT_NE(dispatcher.ProcState, 0) << "without ticks the wait must still be running";
  EXPECT_EQ(op.Step.Busy, 3);
}

}  // namespace
}  // namespace kova::test
