#include "common/bounded_thread.h"

namespace kova {

BoundedThread::~BoundedThread() {
  // An owner that stopped the thread has joined it; one that did not must
  // not be left with a running thread that outlives it.
  if (thread_.joinable()) {
    Quit = 1;
    thread_.join();
  }
}

void BoundedThread::Start(std::function<bool()> body) {
  if (thread_.joinable()) {
    return;
  }
  Quit = 0;
  Exited = 0;
  thread_ = std::thread([this, body = std::move(body)] {
    while (Quit.load() == 0 && body()) {
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Exited = 1;
    }
    cv_.notify_all();
  });
}

bool BoundedThread::AwaitExit(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, bound, [this] { return Exited.load() == 1; });
}

bool BoundedThread::Stop(std::chrono::milliseconds bound) {
  if (!thread_.joinable()) {
    return true;
  }
  Quit = 1;
  return Reap(bound);
}

bool BoundedThread::Reap(std::chrono::milliseconds bound) {
  if (!thread_.joinable()) {
    return true;
  }
  if (!AwaitExit(bound)) {
    return false;
  }
  thread_.join();
  return true;
}

}  // namespace kova
