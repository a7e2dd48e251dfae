#include <gtest/gtest.h>

#include <vector>

#include "common/countdown_slots.h"
#include "engine_fixture.h"

namespace kova::test {
namespace {

TEST(CountdownTest, LoadedCounterRunsDownToZeroAndStays) {
  Countdowns c;
  c.ClearCountdowns();
  c.Set(3, 20);
  c.Set(9, 1);
  for (int i = 0; i < 19; ++i) {
    c.CountdownTick();
  }
  EXPECT_EQ(c.Get(3), 1);
  EXPECT_EQ(c.Get(9), 0);
  c.CountdownTick();
  c.CountdownTick();
  EXPECT_EQ(c.Get(3), 0);
  for (int i = 0; i < Countdowns::kCount; ++i) {
    EXPECT_EQ(c.Get(i), 0) << i;
  }
}

class ProgressTest : public EngineTest {};

TEST_F(ProgressTest, GaugeIsClampedAndOnlyTouchedOnChange) {
  op.Progress = 250;
  EngineTestAccess::UpdateProgress(engine);
  EXPECT_EQ(panel.gauge, (std::vector<int>{100}));
  EXPECT_EQ(op.Progress.load(), 100);
  EngineTestAccess::UpdateProgress(engine);
  op.Progress = 100;
  EngineTestAccess::UpdateProgress(engine);
  EXPECT_EQ(panel.gauge.size(), 1u) << "an unchanged value must not touch the gauge";
  op.Progress = 37;
  EngineTestAccess::UpdateProgress(engine);
  EXPECT_EQ(panel.gauge.back(), 37);
}

TEST_F(ProgressTest, BootProgressEndsOnlyItsOwnWait) {
  StartUp();
  op.Countdown.Set(countdown::kBootWait, 50);
  op.Countdown.Set(countdown::kBootServerBackstop, 50);
  op.SetBootProgress(-1);
  EXPECT_EQ(op.Countdown.Get(countdown::kBootWait), 0);
  EXPECT_EQ(op.Countdown.Get(countdown::kBootServerBackstop), 50);
  op.SetBootProgress(37);
  engine.RunPass();
  ASSERT_FALSE(panel.gauge.empty());
  EXPECT_EQ(panel.gauge.back(), 37);
}

}  // namespace
}  // namespace kova::test
