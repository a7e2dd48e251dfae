#include "step_until.h"

#include <thread>

#include "common/countdown.h"
#include "controller/engine.h"
#include "engine_access.h"
#include "protocol/receive_path.h"

namespace kova::test {

bool StepUntil(Engine& engine, const std::function<bool()>& done, StepPace pace) {
  for (int pass = 0; pass < pace.maxPasses; ++pass) {
    if (done()) {
      return true;
    }
    if (pace.receive) {
      RecvPass(EngineTestAccess::LinkOf(engine));
    }
    engine.RunPass();
    if ((pass + 1) % pace.passesPerTick == 0) {
      engine.CountdownTick();
    }
  }
  return done();
}

namespace {

int TicksUntil(const std::function<void()>& tick, const std::function<void()>& pass,
               const std::function<bool()>& done, int passesPerTick, int maxPasses) {
  int ticks = 0;
  for (int passes = 1; passes <= maxPasses; ++passes) {
    pass();
    if (done()) {
      return ticks;
    }
    if (passes % passesPerTick == 0) {
      tick();
      ++ticks;
    }
  }
  return -1;
}

}  // namespace

int TicksUntil(Engine& engine, const std::function<void()>& pass, const std::function<bool()>& done,
               int passesPerTick, int maxPasses) {
  return TicksUntil([&engine] { engine.CountdownTick(); }, pass, done, passesPerTick, maxPasses);
}

int TicksUntil(Countdowns& countdown, const std::function<void()>& pass,
               const std::function<bool()>& done, int passesPerTick, int maxPasses) {
  return TicksUntil([&countdown] { countdown.CountdownTick(); }, pass, done, passesPerTick,
                    maxPasses);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

}  // namespace kova::test
