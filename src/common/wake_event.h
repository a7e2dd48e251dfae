#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kova {

// What the worker waits on after a pass in which nothing moved: a datagram
// handed over, a tick, a posted action or shutdown signals it. A signal that
// comes while the worker is busy is kept for its next wait.
class WakeEvent {
 public:
  void Signal() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_ = true;
    }
    cv_.notify_one();
  }

  // Returns once signalled, or when `limit` has passed.
  void Wait(std::chrono::microseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, limit, [this] { return pending_; });
    pending_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool pending_ = false;
};

}  // namespace kova
