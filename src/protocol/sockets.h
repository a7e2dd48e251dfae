#pragma once

#include <array>
#include <mutex>
#include <string>

#include "platform/net_platform.h"

namespace kova {

// The command port of every board, for broadcasts and unicast alike. The
// old-platform bootloader is reached on it as well.
constexpr uint16_t kBoardCommandPort = 5002;

// Who a datagram's source belongs to, as the host's neighbour table tells:
// the board's MAC; another one, as the segment answered; another one, as a
// permanent entry says (what the host was told, not what the segment said:
// a board given the derived address before this one, say); or none that
// could be learnt.
enum class SourceOwner : uint8_t { kBoard, kOther, kOtherByHand, kUnknown };

// A source address and its owner, as found once for a socket's life, and
// whether that was as far as it could be found (the segment asked, or no
// question left): else a question that needs to know asks again.
struct SourceNote {
  std::array<uint8_t, 4> ip{};
  SourceOwner owner = SourceOwner::kUnknown;
  bool final = false;
};

// One of the engine's two sockets. The worker creates, sends and closes;
// the receive thread reads. `lock` makes close and re-create a hand-over
// with the receive thread (Linux hands a closed descriptor number out again
// at once) and guards everything below it.
//
// Who a socket talks to is decided by the board alone: nothing received
// before the socket's first request counts (whatever was queued is dropped
// when that request goes out), and only the board's datagrams count after
// it. A datagram is the board's when its source address belongs to the
// board's MAC: it is DeviceIP once DeviceIP is pinned to that MAC, or the
// host's neighbour table maps it to that MAC.
//   - The UDP client with DeviceIP pinned takes only the board's datagrams;
//     a source the table does not know is resolved first, as the host does
//     before it sends.
//   - The broadcast socket, and the UDP client before DeviceIP is pinned,
//     drop a datagram whose source the table maps to another MAC learnt
//     from the segment; the board may sit outside the interface's subnet,
//     so a source the table does not know is taken. An address answer (to
//     "ETH_REQ") naming the board counts only from the address it reports,
//     and that address must be the board's, resolved as above.
// The broadcast socket always sends to the broadcast address. The UDP
// client follows the board: the first datagram it takes fixes the board's
// address (a bootloader may answer from an address of its own), the port
// follows the board's datagrams, and the address moves only to another of
// the board's; a source of unknown owner other than the fixed address is
// dropped. Whatever is dropped is counted for the worker's trace.
struct SocketRecord {
  static constexpr int kNotedSources = 8;

  std::mutex lock;
  bool open = false;
  int handle = -1;
  UdpEndpoint destination;
  UdpEndpoint local;
  bool followsBoard = false;  // the UDP client
  bool requestSent = false;
  bool boardKnown = false;
  std::array<uint8_t, 4> board{};
  // The board as the socket was made for it: its MAC, DeviceIP and whether
  // DeviceIP is pinned to that MAC.
  std::array<uint8_t, 6> boardMac{};
  std::array<uint8_t, 4> deviceIP{};
  bool deviceIPPinned = false;
  // The receive thread's: the interface the board's neighbour entries are
  // on (0 not looked up, -1 none), the owners found, and how many sources
  // the segment left unanswered. Each source is found once, and only a few
  // may cost the host's wait, so that a peer spraying from many addresses
  // cannot keep the thread waiting.
  int ifindex = 0;
  std::array<SourceNote, kNotedSources> sources{};
  int sourceCount = 0;
  int unanswered = 0;
  // Moves on at every open and every discard of what was queued: a
  // datagram read before it moved is not handed over.
  uint32_t generation = 0;
  // For the worker's traces; the receive thread composes no messages.
  bool boardTraced = false;
  uint32_t foreignDropped = 0;
  uint32_t foreignTraced = 0;
  UdpEndpoint lastForeign;
};

// The worker's note of what the socket dropped since its last note ("" when
// nothing): "\n    NAME: N datagram(s) from elsewhere dropped, the last from
// A.B.C.D:P !".
std::string DroppedSinceTraced(SocketRecord& sock, const char* name);

}  // namespace kova
