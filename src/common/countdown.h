#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kova {

// Ten 100 ms tick counters. The front end's timer ticks them; the worker and
// the boot server load and read them. A tick only ever takes one off a
// non-zero value it has just seen, so a load racing a tick is never lost.
class Countdowns {
 public:
  static constexpr int kCount = 10;

  int32_t Get(int index) const { return counters_[index].load(std::memory_order_acquire); }
  void Set(int index, int32_t ticks) { counters_[index].store(ticks, std::memory_order_release); }
  void CountdownTick();
  void ClearCountdowns();

 private:
  std::array<std::atomic<int32_t>, kCount> counters_{};
};

}  // namespace kova
