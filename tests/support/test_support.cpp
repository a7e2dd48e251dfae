#include "step_until.h"

#include "controller/engine.h"

namespace kova::test {

int StepUntil(Engine& engine, const std::function<void()>& pass, const std::function<bool()>& done,
              int passesPerTick, int maxPasses) {
  int ticks = 0;
  for (int passes = 1; passes <= maxPasses; ++passes) {
    pass();
    if (done()) {
      return ticks;
    }
    if (passes % passesPerTick == 0) {
      engine.CountdownTick();
      ++ticks;
    }
  }
  return -1;
}

}  // namespace kova::test
