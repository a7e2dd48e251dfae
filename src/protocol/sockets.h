#pragma once

#include <mutex>

#include "platform/net_platform.h"

namespace kova {

// The command port of every board, for broadcasts and unicast alike. The
// old-platform bootloader is reached on it as well.
constexpr uint16_t kBoardCommandPort = 5002;

// One of the engine's two sockets. The receive thread reads from it and
// records each sender as the destination; the worker creates, sends and
// closes. `lock` makes close and re-create a hand-over with the receive
// thread (Linux hands a closed descriptor number out again at once) and
// guards the destination.
struct SocketRecord {
  std::mutex lock;
  bool open = false;
  int handle = -1;
  UdpEndpoint destination;
  UdpEndpoint local;
};

}  // namespace kova
