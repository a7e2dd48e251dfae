#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kova {

// A thread that is never killed and never waited on for ever: it runs its
// body until the body returns false or a quit is asked, says when it has
// left, and is joined only within a bound. One that misses the bound is
// left barred by its owner and reaped later, again within a bound.
class BoundedThread {
 public:
  BoundedThread() = default;
  ~BoundedThread();
  BoundedThread(const BoundedThread&) = delete;
  BoundedThread& operator=(const BoundedThread&) = delete;

  // Starts the thread unless it runs already: `body` is called again and
  // again while it returns true and no quit is asked.
  void Start(std::function<bool()> body);
  bool Started() const { return thread_.joinable(); }

  // Asks the body to end and waits at most `bound` for the thread to leave.
  // True once it has left and been joined; false if it is still inside a
  // call (its owner then bars it).
  bool Stop(std::chrono::milliseconds bound);
  // Joins a thread that missed its bound, waiting at most `bound` more.
  bool Reap(std::chrono::milliseconds bound);

  // Waits at most `bound` for the thread to have left its loop; true once it
  // has (at once when it had already).
  bool AwaitExit(std::chrono::milliseconds bound);

  // The quit request, also read by a body that waits inside one call.
  std::atomic<int32_t> Quit{0};
  // 0 while the loop runs, 1 once it has left.
  std::atomic<int32_t> Exited{0};

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace kova
