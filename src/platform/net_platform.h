#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kova {

struct UdpEndpoint {
  std::array<uint8_t, 4> ip{};  // first octet first
  uint16_t port = 0;            // host order
};

// How a socket is to be made: bound to `local` and tied to the interface
// `device` (its name in the adapter table), so that it sends and receives on
// that interface only. On Windows such a socket is bound to the adapter's
// own address, even when `local` says 0.0.0.0, and sends by that adapter.
struct UdpSocketSpec {
  UdpEndpoint local;
  std::string device;      // interface name; empty: not tied to one
  bool broadcast = false;  // may send to 255.255.255.255 and receives broadcasts
  int timeoutMs = 0;       // send and receive time-outs; 0: none
};

// The operating system's datagram sockets, as the engine uses them. Tests
// replace it with an in-memory network.
class NetPlatform {
 public:
  static constexpr int kNothing = -1;   // RecvFrom: no datagram waiting
  static constexpr int kTooLarge = -2;  // RecvFrom: a datagram larger than the buffer, dropped

  virtual ~NetPlatform() = default;

  // A non-blocking UDP socket made as `spec` says; -1 if any step failed, in
  // which case nothing is left open.
  virtual int Open(const UdpSocketSpec& spec) = 0;
  // Why the calling thread's last failed Open failed (the host's error
  // number, platform/host_errors.h); 0 when unknown.
  virtual int LastOpenError() const { return 0; }
  // Sends one datagram; the count sent, or -1.
  virtual int SendTo(int handle, const uint8_t* data, size_t length, const UdpEndpoint& to) = 0;
  // Takes one datagram without waiting: its length (0 included), kNothing or
  // kTooLarge; `from` receives the sender.
  virtual int RecvFrom(int handle, uint8_t* buffer, size_t capacity, UdpEndpoint& from) = 0;
  // 0 closed, -1 failed.
  virtual int Close(int handle) = 0;
  // Waits at most `timeoutMs` for a datagram on any of the handles (entries
  // below 0 are ignored, at most kMaxWaitHandles are looked at); with no
  // handle it just sleeps. Bit i of the result is set when handles[i] has a
  // datagram waiting, or is a wake handle that was signalled (the wait takes
  // the signal); 0 means that nothing arrived in time.
  static constexpr int kMaxWaitHandles = 8;
  virtual uint32_t Wait(const int* handles, int count, int timeoutMs) = 0;

  // A wake handle: a Wait that includes it returns as soon as SignalWake is
  // called on it, or at once when that happened before. It lets another
  // thread cut a wait short (a stop) on every system, where Windows' select
  // cannot wait on an event. -1 when the platform has none; a wait then
  // runs its time out. Closed with Close.
  virtual int OpenWake() { return -1; }
  virtual void SignalWake(int /*handle*/) {}
};

// The host's own sockets: POSIX sockets on Linux, Windows Sockets 2 on
// Windows.
std::unique_ptr<NetPlatform> MakeNetPlatform();

}  // namespace kova
