#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/neighbour_table.h"
#include "protocol/link.h"
#include "protocol/receive_path.h"
#include "protocol/reply_records.h"
#include "protocol/rx_ring.h"

namespace kova {

namespace {

using Address = std::array<uint8_t, 4>;

// Sources the segment may leave unanswered for a socket, each after the
// host's whole wait; then the table alone is read, which takes no wait.
constexpr int kMostUnanswered = 3;

int OpenHandle(SocketRecord& sock) {
  std::lock_guard<std::mutex> lock(sock.lock);
  return sock.open ? sock.handle : -1;
}

// The owner of `ip` as the socket already knows it: DeviceIP pinned to the
// board's MAC is the board's, any other source once it has been looked up
// (and, when `ask`, found as far as it could be).
bool KnownOwner(const SocketRecord& sock, const Address& ip, bool ask, SourceOwner& owner) {
  if (sock.deviceIPPinned && ip == sock.deviceIP) {
    owner = SourceOwner::kBoard;
    return true;
  }
  for (int i = 0; i < sock.sourceCount; ++i) {
    const SourceNote& note = sock.sources[i];
    if (note.ip == ip) {
      owner = note.owner;
      return !(ask && !note.final && owner == SourceOwner::kUnknown);
    }
  }
  return false;
}

void NoteOwner(SocketRecord& sock, const SourceNote& found) {
  for (int i = 0; i < sock.sourceCount; ++i) {
    if (sock.sources[i].ip == found.ip) {
      sock.sources[i] = found;
      return;
    }
  }
  if (sock.sourceCount < SocketRecord::kNotedSources) {
    sock.sources[sock.sourceCount++] = found;
  }
}

// What finding a source's owner takes, copied out of the record so that the
// table is read (and the segment asked) without holding the socket.
struct OwnerQuestion {
  Address ip;
  Address deviceIP;
  std::array<uint8_t, 6> boardMac;
  int ifindex;  // where the board's entries are; 0 not looked up, -1 none
  bool ask;
};

SourceOwner FindOwner(Link& link, OwnerQuestion& q) {
  if (link.Neighbours == nullptr) {
    return SourceOwner::kUnknown;
  }
  if (q.ifindex == 0) {
    // Where the route to DeviceIP leads, as for the board's static entry.
    int ifindex = 0;
    q.ifindex =
        link.Neighbours->LookupRouteInterface(q.deviceIP.data(), ifindex) == 0 ? ifindex : -1;
  }
  NeighbourEntry row;
  if (q.ifindex < 0 || link.Neighbours->ResolveNeighbour(q.ifindex, q.ip.data(), q.ask, row) != 0) {
    return SourceOwner::kUnknown;
  }
  if (row.mac == q.boardMac) {
    return SourceOwner::kBoard;
  }
  return row.Permanent() ? SourceOwner::kOtherByHand : SourceOwner::kOther;
}

// Whether the datagram is an answer to "ETH_REQ" naming the board; `claimed`
// receives the address it reports.
bool AddressAnswer(const SocketRecord& sock, const uint8_t* data, int length, Address& claimed) {
  if (sock.followsBoard || length < address_answer::kMinLength ||
      data[2] != address_answer::kTable || data[3] != address_answer::kCode ||
      std::memcmp(data + address_answer::kMacAt, sock.boardMac.data(), 6) != 0) {
    return false;
  }
  std::memcpy(claimed.data(), data + address_answer::kAddressAt, 4);
  return true;
}

// Whether the socket takes a datagram from `from`, whose source belongs to
// `owner`; the UDP client follows the board here.
bool Takes(SocketRecord& sock, const UdpEndpoint& from, SourceOwner owner, bool addressAnswer,
           const Address& claimed) {
  if (addressAnswer) {
    return claimed == from.ip && owner == SourceOwner::kBoard;
  }
  if (!sock.followsBoard) {
    return owner != SourceOwner::kOther;
  }
  // Before DeviceIP is pinned, a source of no known owner is taken as the
  // board's only while the board has no other address.
  if (owner == SourceOwner::kOther ||
      (owner != SourceOwner::kBoard &&
       (sock.deviceIPPinned || (sock.boardKnown && from.ip != sock.board)))) {
    return false;
  }
  if (!sock.boardKnown || from.ip != sock.board) {
    sock.boardKnown = true;
    sock.boardTraced = false;
    sock.board = from.ip;
    sock.destination = from;
  } else {
    sock.destination.port = from.port;
  }
  return true;
}

// Takes at most one datagram from the socket into its ring; whether one was
// handed over. The receive and the hand-over run under the record's lock:
// the worker cannot close the handle in the middle of it (Linux hands a
// closed number to the next socket at once), nor discard the ring under it.
// Only the table is read without it; a datagram whose socket was closed,
// made anew or discarded meanwhile is not handed over.
bool TakeOne(Link& link, SocketRecord& sock, uint8_t* buffer, Ring ring,
             std::atomic<uint32_t>& dropped) {
  std::unique_lock<std::mutex> lock(sock.lock);
  if (!sock.open) {
    return false;
  }
  UdpEndpoint from;
  const int length = link.Net.RecvFrom(sock.handle, buffer, SharedBuffers::kRxBufferSize, from);
  // A datagram larger than the buffer is not delivered at all: a cut-off
  // copy would decode as a different reply. Nothing that came before the
  // socket's first request can answer it.
  if (length < 0 || !sock.requestSent) {
    return false;
  }
  Address claimed{};
  const bool addressAnswer = AddressAnswer(sock, buffer, length, claimed);
  // Where only the board's datagrams count, a source that the table does
  // not know is asked about. Elsewhere the table alone may drop one: asked,
  // every board given the same address would answer, and the first answer
  // need not be this board's.
  const bool ask = addressAnswer || (sock.followsBoard && sock.deviceIPPinned);
  SourceOwner owner = SourceOwner::kUnknown;
  if (!KnownOwner(sock, from.ip, ask, owner)) {
    OwnerQuestion q{from.ip, sock.deviceIP, sock.boardMac, sock.ifindex,
                    ask && sock.unanswered < kMostUnanswered};
    const uint32_t generation = sock.generation;
    lock.unlock();
    owner = FindOwner(link, q);
    lock.lock();
    if (!sock.open || sock.generation != generation) {
      return false;
    }
    sock.ifindex = q.ifindex;
    sock.unanswered += (q.ask && owner == SourceOwner::kUnknown) ? 1 : 0;
    NoteOwner(sock, {from.ip, owner, ask});
  }
  if (!Takes(sock, from, owner, addressAnswer, claimed)) {
    ++sock.foreignDropped;
    sock.lastForeign = from;
    return false;
  }
  if (!RingAppend(link.Buf, ring, buffer, length)) {
    dropped.fetch_add(1);
    return false;
  }
  return true;
}

}  // namespace

void RecvPass(Link& link) {
  const int delay = std::max(0, static_cast<int>(link.RecvThreadDelay.load()));
  if (link.NetStarted.load() != 1) {
    const int wake = link.RecvWake.load();
    link.Net.Wait(&wake, 1, delay);
    return;
  }
  // Waiting on the sockets rather than sleeping blindly: a reply is taken as
  // soon as it arrives, and an idle pass still lasts the delay.
  const int handles[3] = {OpenHandle(link.BroadcastSocket), OpenHandle(link.UDPSocket),
                          link.RecvWake.load()};
  const uint32_t readable = link.Net.Wait(handles, 3, delay);
  bool handedOver = false;
  if ((readable & 1u) != 0) {
    handedOver = TakeOne(link, link.BroadcastSocket, link.Buf.BroadcastRxBuffer.get(),
                         Ring::kBroadcast, link.BroadcastRxDropped);
  }
  if ((readable & 2u) != 0) {
    handedOver =
        TakeOne(link, link.UDPSocket, link.Buf.UDPRxBuffer.get(), Ring::kUDP, link.UDPRxDropped) ||
        handedOver;
  }
  // Only once the sockets are let go: a worker woken while this thread
  // still held one would block on it at its first look at the socket.
  if (handedOver && link.Wake != nullptr) {
    link.Wake->Signal();
  }
}

}  // namespace kova
