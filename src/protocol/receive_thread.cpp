#include <algorithm>
#include <atomic>

#include "protocol/link.h"
#include "protocol/receive_path.h"
#include "protocol/rx_ring.h"

namespace kova {

namespace {

int OpenHandle(SocketRecord& sock) {
  std::lock_guard<std::mutex> lock(sock.lock);
  return sock.open ? sock.handle : -1;
}

// Whether a datagram from `from` is the board's, as far as the socket can
// tell; the UDP client learns and follows the board here. Runs under the
// record's lock.
bool FromTheBoard(SocketRecord& sock, const UdpEndpoint& from) {
  if (!sock.requestSent) {
    return false;  // cannot be an answer yet
  }
  if (!sock.followsBoard) {
    return true;
  }
  if (!sock.boardKnown) {
    sock.boardKnown = true;
    sock.board = from.ip;
    sock.destination = from;
    return true;
  }
  if (from.ip != sock.board) {
    ++sock.foreignDropped;
    sock.lastForeign = from;
    return false;
  }
  sock.destination.port = from.port;
  return true;
}

// Takes at most one datagram from the socket into its ring. The receive runs
// under the record's lock: the worker cannot close the handle in the middle
// of it, and Linux hands a closed number to the next socket at once.
void TakeOne(Link& link, SocketRecord& sock, uint8_t* buffer, Ring ring,
             std::atomic<uint32_t>& dropped) {
  int length = NetPlatform::kNothing;
  {
    std::lock_guard<std::mutex> lock(sock.lock);
    if (!sock.open) {
      return;
    }
    UdpEndpoint from;
    length = link.Net.RecvFrom(sock.handle, buffer, SharedBuffers::kRxBufferSize, from);
    if (length >= 0 && !FromTheBoard(sock, from)) {
      return;
    }
  }
  // A datagram larger than the buffer is not delivered at all: a cut-off
  // copy would decode as a different reply.
  if (length < 0) {
    return;
  }
  if (!RingAppend(link.Buf, ring, buffer, length)) {
    dropped.fetch_add(1);
  } else if (link.Wake != nullptr) {
    link.Wake->Signal();
  }
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
  if ((readable & 1u) != 0) {
    TakeOne(link, link.BroadcastSocket, link.Buf.BroadcastRxBuffer.get(), Ring::kBroadcast,
            link.BroadcastRxDropped);
  }
  if ((readable & 2u) != 0) {
    TakeOne(link, link.UDPSocket, link.Buf.UDPRxBuffer.get(), Ring::kUDP, link.UDPRxDropped);
  }
}

}  // namespace kova
