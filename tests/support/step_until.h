#pragma once

#include <chrono>
#include <functional>

namespace kova {
class Countdowns;
class Engine;
}  // namespace kova

namespace kova::test {

struct StepPace {
  int maxPasses = 10000;
  int passesPerTick = 1;  // a countdown tick after every this many passes
  bool receive = true;    // a receive pass before each worker pass
};

// The worker's loop by hand: a receive pass, a worker pass and, at the pace
// asked, a tick, until `done` holds. False if it did not within maxPasses.
bool StepUntil(Engine& engine, const std::function<bool()>& done, StepPace pace = {});

// Runs `pass` until `done` holds, ticking the engine's countdowns after every
// `passesPerTick` passes. Returns the ticks it took, or -1 when `done` still
// did not hold after `maxPasses`.
int TicksUntil(Engine& engine, const std::function<void()>& pass, const std::function<bool()>& done,
               int passesPerTick = 10, int maxPasses = 200000);
// The same with the countdowns of a link or an operation that no engine owns.
int TicksUntil(Countdowns& countdown, const std::function<void()>& pass,
               const std::function<bool()>& done, int passesPerTick = 10, int maxPasses = 200000);

// For tests that run real threads: polls `done` until it holds or `limit`
// has passed.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace kova::test
