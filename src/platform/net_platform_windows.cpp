// Windows Sockets 2 behind the engine's socket interface. The engine knows
// sockets by small numbers; the SOCKET handles stay in a table here.

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <iphlpapi.h>
#include <mmsystem.h>
#include <mswsock.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/net_platform.h"
#include "platform/wide_text_windows.h"

namespace kova {

namespace {

// The first number handed out: 0 reads as "no socket" to some callers.
constexpr int kFirstHandle = 3;

sockaddr_in ToSockaddr(const UdpEndpoint& ep) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  std::memcpy(&sa.sin_addr.s_addr, ep.ip.data(), 4);
  sa.sin_port = htons(ep.port);
  return sa;
}

// The adapter the table names `description`: its interface index and its
// first IPv4 address. GetAdaptersInfo is the list the adapter table was
// read from, so the names agree.
bool FindAdapter(const std::string& description, DWORD& index, std::array<uint8_t, 4>& ip) {
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR) {
    return false;
  }
  for (auto* a = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); a != nullptr; a = a->Next) {
    if (host::AnsiToUtf8(a->Description) == description) {
      index = a->Index;
      const unsigned long address = inet_addr(a->IpAddressList.IpAddress.String);
      std::memcpy(ip.data(), &address, 4);
      return true;
    }
  }
  return false;
}

class WindowsNetPlatform : public NetPlatform {
 public:
  WindowsNetPlatform() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    // Waits of a millisecond or two mean that, not the default 15.6 ms.
    timeBeginPeriod(1);
  }

  ~WindowsNetPlatform() override {
    for (Slot& slot : slots_) {
      if (slot.socket != INVALID_SOCKET) {
        closesocket(slot.socket);
      }
    }
    timeEndPeriod(1);
    if (started_) {
      WSACleanup();
    }
  }

  int Open(const UdpSocketSpec& spec) override {
    SOCKET s = MakeSocket();
    if (s == INVALID_SOCKET) {
      lastOpenError_ = WSAGetLastError();
      return -1;
    }
    if (!Configure(s, spec)) {
      lastOpenError_ = WSAGetLastError();
      closesocket(s);
      return -1;
    }
    return Store(s, false);
  }

  int LastOpenError() const override { return lastOpenError_; }

  int SendTo(int handle, const uint8_t* data, size_t length, const UdpEndpoint& to) override {
    const SOCKET s = Get(handle);
    const sockaddr_in sa = ToSockaddr(to);
    const int n = ::sendto(s, reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                           reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    return n == SOCKET_ERROR ? -1 : n;
  }

  int RecvFrom(int handle, uint8_t* buffer, size_t capacity, UdpEndpoint& from) override {
    const SOCKET s = Get(handle);
    sockaddr_in sa{};
    int len = sizeof(sa);
    const int n = ::recvfrom(s, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                             reinterpret_cast<sockaddr*>(&sa), &len);
    if (n == SOCKET_ERROR) {
      // A datagram larger than the buffer is taken off the socket and
      // reported, so that a cut copy is never decoded.
      if (WSAGetLastError() != WSAEMSGSIZE) {
        return kNothing;
      }
      std::memcpy(from.ip.data(), &sa.sin_addr.s_addr, 4);
      from.port = ntohs(sa.sin_port);
      return kTooLarge;
    }
    std::memcpy(from.ip.data(), &sa.sin_addr.s_addr, 4);
    from.port = ntohs(sa.sin_port);
    return n;
  }

  // A socket that another thread's Wait is selecting on is not closed under
  // it: closed there, its SOCKET value could be handed to a new socket (of
  // this engine or another) before select looks at it, and Wine's server
  // aborts on a socket closed in the middle of a select. It is closed by
  // the last Wait using it, which the wakes of the running Waits end at
  // once; until then nothing else can have it.
  int Close(int handle) override {
    SOCKET s = INVALID_SOCKET;
    std::vector<Wakeup> wakes;
    {
      std::lock_guard<std::mutex> lock(lock_);
      const size_t i = static_cast<size_t>(handle - kFirstHandle);
      if (handle < kFirstHandle || i >= slots_.size() || slots_[i].socket == INVALID_SOCKET ||
          slots_[i].closing) {
        return -1;
      }
      if (slots_[i].waiters > 0) {
        slots_[i].closing = true;
        wakes = WaitingWakes();
      } else {
        s = slots_[i].socket;
        slots_[i] = Slot{};
      }
    }
    for (const Wakeup& w : wakes) {
      SendWake(w);
    }
    return s == INVALID_SOCKET || closesocket(s) == 0 ? 0 : -1;
  }

  // A datagram socket on the loopback address that sends to itself: the one
  // thing Windows' select can wait on besides the sockets.
  int OpenWake() override {
    SOCKET s = MakeSocket();
    if (s == INVALID_SOCKET) {
      return -1;
    }
    u_long nonBlocking = 1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(sa);
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
      closesocket(s);
      return -1;
    }
    DisableConnectionReset(s);
    const int handle = Store(s, true);
    std::lock_guard<std::mutex> lock(lock_);
    slots_[static_cast<size_t>(handle - kFirstHandle)].self = sa;
    return handle;
  }

  void SignalWake(int handle) override {
    Wakeup w;
    {
      std::lock_guard<std::mutex> lock(lock_);
      const size_t i = static_cast<size_t>(handle - kFirstHandle);
      if (handle < kFirstHandle || i >= slots_.size() || !slots_[i].wake || slots_[i].closing) {
        return;
      }
      slots_[i].waiters += 1;  // held open while it is written to
      w = {slots_[i].socket, slots_[i].self};
    }
    SendWake(w);
    Release(static_cast<size_t>(handle - kFirstHandle));
  }

  uint32_t Wait(const int* handles, int count, int timeoutMs) override {
    // As on Linux: at least 1 ms, so that a zero delay does not spin.
    timeoutMs = std::max(timeoutMs, 1);
    fd_set readable;
    FD_ZERO(&readable);
    SOCKET sockets[kMaxWaitHandles];
    size_t held[kMaxWaitHandles] = {};
    bool wakes[kMaxWaitHandles] = {};
    int used = 0;
    {
      std::lock_guard<std::mutex> lock(lock_);
      for (int i = 0; i < count && i < kMaxWaitHandles; ++i) {
        sockets[i] = INVALID_SOCKET;
        const size_t slot = static_cast<size_t>(handles[i] - kFirstHandle);
        if (handles[i] >= kFirstHandle && slot < slots_.size() &&
            slots_[slot].socket != INVALID_SOCKET && !slots_[slot].closing) {
          slots_[slot].waiters += 1;
          sockets[i] = slots_[slot].socket;
          held[i] = slot;
          wakes[i] = slots_[slot].wake;
          FD_SET(sockets[i], &readable);
          ++used;
        }
      }
    }
    // select wants at least one socket.
    if (used == 0) {
      Sleep(static_cast<DWORD>(timeoutMs));
      return 0;
    }
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    const int n = select(0, &readable, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) {
      Sleep(static_cast<DWORD>(timeoutMs));
    }
    uint32_t ready = 0;
    for (int i = 0; i < count && i < kMaxWaitHandles; ++i) {
      if (sockets[i] == INVALID_SOCKET) {
        continue;
      }
      if (n > 0 && FD_ISSET(sockets[i], &readable)) {
        ready |= 1u << i;
        if (wakes[i]) {
          Drain(sockets[i]);
        }
      }
      Release(held[i]);
    }
    return ready;
  }

 private:
  struct Slot {
    SOCKET socket = INVALID_SOCKET;
    bool wake = false;
    sockaddr_in self{};    // a wake handle's own address
    int waiters = 0;       // Waits (and wake signals) using the socket now
    bool closing = false;  // closed by its owner, left to the last of them
  };

  struct Wakeup {
    SOCKET socket = INVALID_SOCKET;
    sockaddr_in self{};
  };

  static void SendWake(const Wakeup& w) {
    const char one = 1;
    sendto(w.socket, &one, 1, 0, reinterpret_cast<const sockaddr*>(&w.self), sizeof(w.self));
  }

  // The wakes of the Waits running now (lock_ held). A wake being closed is
  // left out: its owner no longer waits on it.
  std::vector<Wakeup> WaitingWakes() const {
    std::vector<Wakeup> wakes;
    for (const Slot& slot : slots_) {
      if (slot.wake && slot.waiters > 0 && !slot.closing) {
        wakes.push_back({slot.socket, slot.self});
      }
    }
    return wakes;
  }

  // The end of one use of a slot; the last use of a closed one closes it.
  void Release(size_t i) {
    SOCKET s = INVALID_SOCKET;
    {
      std::lock_guard<std::mutex> lock(lock_);
      Slot& slot = slots_[i];
      slot.waiters -= 1;
      if (slot.waiters > 0 || !slot.closing) {
        return;
      }
      s = slot.socket;
      slot = Slot{};
    }
    closesocket(s);
  }

  // Per thread: the boot server opens its ports on a thread of its own.
  static thread_local int lastOpenError_;
  bool started_ = false;
  std::mutex lock_;
  std::vector<Slot> slots_;

  // Not handed to child processes.
  static SOCKET MakeSocket() {
    SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
      // Windows 7 before SP1 does not know the flag.
      s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, 0);
      if (s != INVALID_SOCKET) {
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
      }
    }
    return s;
  }

  // An ICMP port-unreachable for an earlier send would otherwise fail the
  // next receive with WSAECONNRESET.
  static void DisableConnectionReset(SOCKET s) {
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned, nullptr,
             nullptr);
  }

  static void Drain(SOCKET s) {
    char byte[16];
    while (recv(s, byte, sizeof byte, 0) != SOCKET_ERROR) {
    }
  }

  static bool Configure(SOCKET s, const UdpSocketSpec& spec) {
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
      return false;
    }
    DisableConnectionReset(s);
    const BOOL one = TRUE;
    if (spec.broadcast && setsockopt(s, SOL_SOCKET, SO_BROADCAST,
                                     reinterpret_cast<const char*>(&one), sizeof(one)) != 0) {
      return false;
    }
    if (spec.timeoutMs > 0) {
      const DWORD ms = static_cast<DWORD>(spec.timeoutMs);
      if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms)) !=
              0 ||
          setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms)) !=
              0) {
        return false;
      }
    }
    // A port of our own (the boot server's 67 and 69) is not shared with a
    // socket that asks to reuse it.
    if (spec.local.port != 0 && setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                                           reinterpret_cast<const char*>(&one), sizeof(one)) != 0) {
      return false;
    }
    UdpEndpoint bindTo = spec.local;
    if (!spec.device.empty()) {
      // Pinned to the adapter: bound to its own address (a socket on
      // 0.0.0.0 would send its broadcasts by the default route) and told to
      // send by it. A socket bound to an adapter's address also takes the
      // broadcasts that arrive on that adapter.
      DWORD index = 0;
      std::array<uint8_t, 4> address{};
      if (!FindAdapter(spec.device, index, address)) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return false;
      }
      if (bindTo.ip == std::array<uint8_t, 4>{0, 0, 0, 0}) {
        bindTo.ip = address;
      }
      const DWORD networkOrder = htonl(index);
      if (setsockopt(s, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&networkOrder),
                     sizeof(networkOrder)) != 0) {
        return false;
      }
    }
    const sockaddr_in sa = ToSockaddr(bindTo);
    return bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0;
  }

  int Store(SOCKET s, bool wake) {
    std::lock_guard<std::mutex> lock(lock_);
    size_t i = 0;
    while (i < slots_.size() && slots_[i].socket != INVALID_SOCKET) {
      ++i;
    }
    if (i == slots_.size()) {
      slots_.emplace_back();
    }
    slots_[i].socket = s;
    slots_[i].wake = wake;
    return static_cast<int>(i) + kFirstHandle;
  }

  SOCKET Get(int handle) {
    std::lock_guard<std::mutex> lock(lock_);
    const size_t i = static_cast<size_t>(handle - kFirstHandle);
    return (handle >= kFirstHandle && i < slots_.size() && !slots_[i].closing) ? slots_[i].socket
                                                                               : INVALID_SOCKET;
  }
};

thread_local int WindowsNetPlatform::lastOpenError_ = 0;

}  // namespace

std::unique_ptr<NetPlatform> MakeNetPlatform() {
  return std::make_unique<WindowsNetPlatform>();
}

}  // namespace kova
