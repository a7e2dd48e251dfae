#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "fake_net.h"

namespace kova::test {

// The in-memory network on a clock of its own that moves only while the code
// under test waits: a wait that finds nothing queued lasts until the next
// feed falls due (the feed then delivers what the rest of the segment sends)
// or until its time-out. Nothing takes time but waiting, so a test can say to
// the millisecond when something was sent. The code under test waits on the
// test's own thread.
class TimedNet : public FakeNet {
 public:
  using Clock = std::chrono::steady_clock;

  Clock::time_point Now() const { return now_; }
  // Time since the clock's zero, where every test starts.
  std::chrono::milliseconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - Clock::time_point());
  }

  // Runs `feed` every `period` from now on, the first time one period from now.
  void Every(std::chrono::milliseconds period, std::function<void()> feed) {
    feeds_.push_back({now_ + period, period, std::move(feed)});
  }

  uint32_t Wait(const int* handles, int count, int timeoutMs) override {
    const Clock::time_point end = now_ + std::chrono::milliseconds(timeoutMs);
    uint32_t ready = FakeNet::Wait(handles, count, 0);
    while (ready == 0) {
      Feed* next = nullptr;
      for (Feed& f : feeds_) {
        if (f.due <= end && (next == nullptr || f.due < next->due)) {
          next = &f;
        }
      }
      if (next == nullptr) {
        now_ = end;
        return 0;
      }
      now_ = std::max(now_, next->due);
      next->due += next->period;
      const std::function<void()> feed = next->feed;  // a feed may add feeds
      feed();
      ready = Readable(handles, count);
    }
    return ready;
  }

 private:
  struct Feed {
    Clock::time_point due;
    std::chrono::milliseconds period;
    std::function<void()> feed;
  };
  Clock::time_point now_{};
  std::vector<Feed> feeds_;
};

}  // namespace kova::test
