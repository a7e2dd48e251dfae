#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "platform/net_platform.h"

namespace kova {

namespace {

sockaddr_in ToSockaddr(const UdpEndpoint& ep) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  std::memcpy(&sa.sin_addr.s_addr, ep.ip.data(), 4);
  sa.sin_port = htons(ep.port);
  return sa;
}

class LinuxNetPlatform : public NetPlatform {
 public:
  int Open(const UdpSocketSpec& spec) override {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
      lastOpenError_ = errno;
      return -1;
    }
    if (!Configure(fd, spec)) {
      lastOpenError_ = errno;
      ::close(fd);
      return -1;
    }
    return fd;
  }

  int LastOpenError() const override { return lastOpenError_; }

  int SendTo(int handle, const uint8_t* data, size_t length, const UdpEndpoint& to) override {
    const sockaddr_in sa = ToSockaddr(to);
    const ssize_t n =
        ::sendto(handle, data, length, 0, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    return n < 0 ? -1 : static_cast<int>(n);
  }

  int RecvFrom(int handle, uint8_t* buffer, size_t capacity, UdpEndpoint& from) override {
    sockaddr_in sa{};
    socklen_t len = sizeof(sa);
    // MSG_TRUNC makes the kernel report a datagram's real length, so one that
    // did not fit is recognised instead of being taken cut short.
    const ssize_t n = ::recvfrom(handle, buffer, capacity, MSG_DONTWAIT | MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0) {
      return kNothing;
    }
    std::memcpy(from.ip.data(), &sa.sin_addr.s_addr, 4);
    from.port = ntohs(sa.sin_port);
    if (static_cast<size_t>(n) > capacity) {
      return kTooLarge;
    }
    return static_cast<int>(n);
  }

  // Linux releases the descriptor even when close() reports EINTR or EIO;
  // calling it failed then would keep a number marked open that the next
  // socket of anyone may receive. Only a descriptor that was not open fails.
  int Close(int handle) override {
    {
      std::lock_guard<std::mutex> lock(wakesLock_);
      wakes_.erase(handle);
    }
    return (::close(handle) == 0 || errno != EBADF) ? 0 : -1;
  }

  int OpenWake() override {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd >= 0) {
      std::lock_guard<std::mutex> lock(wakesLock_);
      wakes_.insert(fd);
    }
    return fd;
  }

  void SignalWake(int handle) override {
    if (handle >= 0) {
      const uint64_t one = 1;
      const ssize_t n = ::write(handle, &one, sizeof one);
      (void)n;  // a counter that is already signalled stays so
    }
  }

  uint32_t Wait(const int* handles, int count, int timeoutMs) override {
    // poll() returns as soon as a datagram arrives, so waiting at least 1 ms
    // costs no latency and keeps a zero delay from spinning a core; a
    // negative time-out would make poll wait for ever.
    timeoutMs = std::max(timeoutMs, 1);
    pollfd fds[kMaxWaitHandles];
    int index[kMaxWaitHandles];
    int used = 0;
    for (int i = 0; i < count && i < kMaxWaitHandles; ++i) {
      if (handles[i] >= 0) {
        fds[used].fd = handles[i];
        fds[used].events = POLLIN;
        fds[used].revents = 0;
        index[used] = i;
        ++used;
      }
    }
    if (used == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return 0;
    }
    if (::poll(fds, used, timeoutMs) <= 0) {
      return 0;
    }
    uint32_t readable = 0;
    for (int i = 0; i < used; ++i) {
      if ((fds[i].revents & (POLLIN | POLLERR)) != 0) {
        readable |= 1u << index[i];
        TakeWake(fds[i].fd);
      }
    }
    return readable;
  }

 private:
  // Per thread: the boot server opens its ports on a thread of its own.
  static thread_local int lastOpenError_;
  std::mutex wakesLock_;
  std::set<int> wakes_;

  // A signalled wake handle is reset by the wait that saw it.
  void TakeWake(int fd) {
    {
      std::lock_guard<std::mutex> lock(wakesLock_);
      if (wakes_.count(fd) == 0) {
        return;
      }
    }
    uint64_t count = 0;
    const ssize_t n = ::read(fd, &count, sizeof count);
    (void)n;
  }

  static bool Configure(int fd, const UdpSocketSpec& spec) {
    const int one = 1;
    if (spec.broadcast && setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one)) != 0) {
      return false;
    }
    if (spec.timeoutMs > 0) {
      // Linux takes a struct timeval here, not a count of milliseconds.
      timeval tv{};
      tv.tv_sec = spec.timeoutMs / 1000;
      tv.tv_usec = (spec.timeoutMs % 1000) * 1000;
      if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0 ||
          setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) != 0) {
        return false;
      }
    }
    UdpEndpoint bindTo = spec.local;
    if (!spec.device.empty()) {
      // Tied to the interface, the socket sends its broadcasts out of it and
      // takes datagrams arriving on it only, broadcasts included; so it binds
      // the port on any address.
      if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, spec.device.c_str(),
                     static_cast<socklen_t>(spec.device.size())) != 0) {
        return false;
      }
      bindTo.ip = {0, 0, 0, 0};
    }
    const sockaddr_in sa = ToSockaddr(bindTo);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0;
  }
};

thread_local int LinuxNetPlatform::lastOpenError_ = 0;

}  // namespace

std::unique_ptr<NetPlatform> MakeNetPlatform() {
  return std::make_unique<LinuxNetPlatform>();
}

}  // namespace kova
