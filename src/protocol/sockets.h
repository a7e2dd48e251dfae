#pragma once

#include <array>
#include <mutex>

#include "platform/net_platform.h"

namespace kova {

// The command port of every board, for broadcasts and unicast alike. The
// old-platform bootloader is reached on it as well.
constexpr uint16_t kBoardCommandPort = 5002;

// One of the engine's two sockets. The worker creates, sends and closes;
// the receive thread reads. `lock` makes close and re-create a hand-over
// with the receive thread (Linux hands a closed descriptor number out again
// at once) and guards everything below it.
//
// Who a socket talks to is decided by the board alone: nothing received
// before the socket's first request counts (whatever was queued is dropped
// when that request goes out). The broadcast socket always sends to the
// broadcast address. The UDP client follows the board: the first datagram
// after its first request fixes the board's address for the socket's life
// (a bootloader may answer from an address of its own), later ones from
// other addresses are dropped, and the port follows the board's datagrams.
struct SocketRecord {
  std::mutex lock;
  bool open = false;
  int handle = -1;
  UdpEndpoint destination;
  UdpEndpoint local;
  bool followsBoard = false;  // the UDP client
  bool requestSent = false;
  bool boardKnown = false;
  std::array<uint8_t, 4> board{};
  // For the worker's traces; the receive thread composes no messages.
  bool boardTraced = false;
  uint32_t foreignDropped = 0;
  uint32_t foreignTraced = 0;
  UdpEndpoint lastForeign;
};

}  // namespace kova
