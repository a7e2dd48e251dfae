#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/net_platform.h"

namespace kova::test {

// An in-memory network: records every datagram the engine sends and hands
// the engine whatever a test delivers. Safe to use from the receive thread.
class FakeNet : public NetPlatform {
 public:
  struct Datagram {
    int handle;
    std::vector<uint8_t> bytes;
    UdpEndpoint peer;  // destination of a sent datagram, sender of a delivered one
  };

  int Open(const UdpSocketSpec& spec) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failOpen || (refuseOpen && refuseOpen(spec))) {
      return -1;
    }
    const int handle = nextHandle_++;
    sockets_[handle] = Socket{spec, {}, true};
    opened.push_back(handle);
    return handle;
  }

  int SendTo(int handle, const uint8_t* data, size_t length, const UdpEndpoint& to) override {
    std::function<void(const Datagram&)> answer;
    Datagram copy;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = sockets_.find(handle);
      if (failSend || it == sockets_.end() || !it->second.open) {
        return -1;
      }
      sent.push_back({handle, std::vector<uint8_t>(data, data + length), to});
      auto scripted = scripted_.find(sent.size());
      if (scripted != scripted_.end()) {
        for (Datagram& d : scripted->second) {
          it->second.inbox.push_back({handle, std::move(d.bytes), d.peer});
        }
        scripted_.erase(scripted);
        arrived_.notify_all();
      }
      answer = peer;
      copy = sent.back();
    }
    // Outside the lock: the peer answers through Deliver.
    if (answer) {
      answer(copy);
    }
    return static_cast<int>(length);
  }

  int RecvFrom(int handle, uint8_t* buffer, size_t capacity, UdpEndpoint& from) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sockets_.find(handle);
    if (it == sockets_.end() || !it->second.open || it->second.inbox.empty()) {
      return kNothing;
    }
    Datagram d = std::move(it->second.inbox.front());
    it->second.inbox.pop_front();
    from = d.peer;
    if (d.bytes.size() > capacity) {
      return kTooLarge;
    }
    std::copy(d.bytes.begin(), d.bytes.end(), buffer);
    return static_cast<int>(d.bytes.size());
  }

  int LastOpenError() const override { return openError; }

  int Close(int handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (wakes_.erase(handle) != 0) {
      return 0;
    }
    auto it = sockets_.find(handle);
    if (failClose || it == sockets_.end() || !it->second.open) {
      return -1;
    }
    it->second.open = false;
    return 0;
  }

  // Wake handles, numbered apart from the sockets: a signal is kept until a
  // wait that includes the handle takes it.
  int OpenWake() override {
    std::lock_guard<std::mutex> lock(mutex_);
    const int handle = nextWake_++;
    wakes_[handle] = false;
    return handle;
  }

  void SignalWake(int handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = wakes_.find(handle);
    if (it != wakes_.end()) {
      it->second = true;
      arrived_.notify_all();
    }
  }

  // Tells which of the handles have a datagram queued or are signalled wake
  // handles. Never waits unless `waitBlocks` is set (a real receive thread
  // would spin otherwise) or `sleepInWait` (it sleeps out the time when
  // nothing is queued); `onWait` runs first, so that a scripted peer can
  // answer what was sent before. A wait that ends with nothing adds its
  // whole time to WaitedOutMs, as the host's would take it.
  uint32_t Wait(const int* handles, int count, int timeoutMs) override {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++waits_;
      hook = onWait;
    }
    if (hook) {
      hook();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    auto readable = [&] { return ReadableLocked(handles, count); };
    if (waitBlocks) {
      arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return readable() != 0; });
    }
    const uint32_t bits = readable();
    for (int i = 0; i < count && i < kMaxWaitHandles; ++i) {
      auto wake = wakes_.find(handles[i]);
      if (wake != wakes_.end()) {
        wake->second = false;
      }
    }
    if (bits == 0) {
      waitedOutMs_ += timeoutMs;
    }
    if (bits == 0 && sleepInWait) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    }
    return bits;
  }

  int Waits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waits_;
  }

  // Which of the handles have a datagram queued, as Wait reports it.
  uint32_t Readable(const int* handles, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ReadableLocked(handles, count);
  }

  int WaitedOutMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waitedOutMs_;
  }

  // Queues a datagram for the socket `handle`, as if `from` had sent it.
  void Deliver(int handle, std::vector<uint8_t> bytes,
               UdpEndpoint from = {{192, 168, 100, 2}, 5002}) {
    std::lock_guard<std::mutex> lock(mutex_);
    sockets_[handle].inbox.push_back({handle, std::move(bytes), from});
    arrived_.notify_all();
  }

  // The scripted peer: once the engine has sent its `count`th datagram (all
  // sockets, counting from 1), `bytes` arrives on the socket it was sent on.
  void AfterSent(size_t count, std::vector<uint8_t> bytes,
                 UdpEndpoint from = {{192, 168, 100, 2}, 5002}) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripted_[count].push_back({0, std::move(bytes), from});
  }

  bool IsOpen(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = sockets_.find(handle);
    return it != sockets_.end() && it->second.open;
  }

  UdpSocketSpec SpecOf(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return sockets_[handle].spec;
  }

  int OpenCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& [h, s] : sockets_) {
      n += s.open ? 1 : 0;
    }
    return n;
  }

  std::vector<Datagram> Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent;
  }

  // Failure injection; set before the call they should affect.
  bool failOpen = false;
  bool failSend = false;
  bool failClose = false;
  std::function<bool(const UdpSocketSpec&)> refuseOpen;  // true: that socket cannot be made
  int openError = 0;                                     // what LastOpenError reports
  std::function<void()> onWait;
  bool sleepInWait = false;
  bool waitBlocks = false;
  // An answering peer, called after every datagram sent (set before use).
  std::function<void(const Datagram&)> peer;
  const void* peerOwner = nullptr;  // who installed `peer`
  std::vector<int> opened;
  std::vector<Datagram> sent;

 private:
  struct Socket {
    UdpSocketSpec spec;
    std::deque<Datagram> inbox;
    bool open = false;
  };

  uint32_t ReadableLocked(const int* handles, int count) {
    uint32_t bits = 0;
    for (int i = 0; i < count && i < kMaxWaitHandles; ++i) {
      auto it = sockets_.find(handles[i]);
      auto wake = wakes_.find(handles[i]);
      if ((it != sockets_.end() && it->second.open && !it->second.inbox.empty()) ||
          (wake != wakes_.end() && wake->second)) {
        bits |= 1u << i;
      }
    }
    return bits;
  }

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::map<int, Socket> sockets_;
  std::map<size_t, std::vector<Datagram>> scripted_;
  std::map<int, bool> wakes_;  // signalled or not
  int nextHandle_ = 100;
  int nextWake_ = 1 << 20;
  int waits_ = 0;
  int waitedOutMs_ = 0;
};

}  // namespace kova::test
