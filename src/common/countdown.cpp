#include "common/countdown.h"

namespace kova {

void Countdowns::CountdownTick() {
  for (auto& counter : counters_) {
    int32_t seen = counter.load(std::memory_order_acquire);
    while (seen != 0 && !counter.compare_exchange_weak(seen, seen - 1, std::memory_order_acq_rel)) {
    }
  }
}

void Countdowns::ClearCountdowns() {
  for (auto& counter : counters_) {
    counter.store(0, std::memory_order_release);
  }
}

}  // namespace kova
