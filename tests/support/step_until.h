#pragma once

#include <functional>

namespace kova {
class Engine;
}

namespace kova::test {

// Runs `pass` until `done` holds, ticking the engine's countdowns after every
// `passesPerTick` passes. Returns the ticks it took, or -1 when `done` still
// did not hold after `maxPasses`.
int StepUntil(Engine& engine, const std::function<void()>& pass, const std::function<bool()>& done,
              int passesPerTick = 10, int maxPasses = 200000);

}  // namespace kova::test
