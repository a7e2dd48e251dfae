#include <gtest/gtest.h>

#include <vector>

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
  engine.Progress = 250;
  engine.UpdateProgress();
  EXPECT_EQ(panel.gauge, (std::vector<int>{100}));
  EXPECT_EQ(engine.Progress.load(), 100);
  engine.UpdateProgress();
  engine.Progress = 100;
  engine.UpdateProgress();
  EXPECT_EQ(panel.gauge.size(), 1u) << "an unchanged value must not touch the gauge";
  engine.Progress = 37;
  engine.UpdateProgress();
  EXPECT_EQ(panel.gauge.back(), 37);
}

TEST_F(ProgressTest, BootProgressEndsOnlyItsOwnWait) {
  StartUp();
  engine.Countdown.Set(7, 50);
  engine.Countdown.Set(6, 50);
  engine.SetBootProgress(-1);
  EXPECT_EQ(engine.Countdown.Get(7), 0);
  EXPECT_EQ(engine.Countdown.Get(6), 50);
  engine.SetBootProgress(37);
  engine.RunPass();
  ASSERT_FALSE(panel.gauge.empty());
  EXPECT_EQ(panel.gauge.back(), 37);
}

}  // namespace
}  // namespace kova::test
