#include <algorithm>
#include <atomic>

#include "controller/engine.h"
#include "protocol/receive_path.h"
#include "protocol/rx_ring.h"

namespace kova {

namespace {

int OpenHandle(SocketRecord& sock) {
  std::lock_guard<std::mutex> lock(sock.lock);
  return sock.open ? sock.handle : -1;
}

// Takes at most one datagram from the socket into its ring. The receive runs
// under the record's lock: the worker cannot close the handle in the middle
// of it, and Linux hands a closed number to the next socket at once.
void TakeOne(Engine& e, SocketRecord& sock, uint8_t* buffer, Ring ring,
             std::atomic<uint32_t>& dropped) {
  int length = NetPlatform::kNothing;
  {
    std::lock_guard<std::mutex> lock(sock.lock);
    if (!sock.open) {
      return;
    }
    UdpEndpoint from;
    length = e.Net->RecvFrom(sock.handle, buffer, SharedBuffers::kRxBufferSize, from);
    if (length >= 0) {
      sock.destination = from;
    }
  }
  // A datagram larger than the buffer is not delivered at all: a cut-off
  // copy would decode as a different reply.
  if (length < 0) {
    return;
  }
  if (!RingAppend(e.Buf, ring, buffer, length)) {
    dropped.fetch_add(1);
  }
}

}  // namespace

void RecvPass(Engine& e) {
  const int delay = std::max(0, static_cast<int>(e.RecvThreadDelay.load()));
  if (e.NetStarted.load() != 1) {
    e.Net->Wait(nullptr, 0, delay);
    return;
  }
  // Waiting on the sockets rather than sleeping blindly: a reply is taken as
  // soon as it arrives, and an idle pass still lasts the delay.
  const int handles[2] = {OpenHandle(e.BroadcastSocket), OpenHandle(e.UDPSocket)};
  e.Net->Wait(handles, 2, delay);
  TakeOne(e, e.BroadcastSocket, e.Buf.BroadcastRxBuffer.get(), Ring::kBroadcast,
          e.BroadcastRxDropped);
  TakeOne(e, e.UDPSocket, e.Buf.UDPRxBuffer.get(), Ring::kUDP, e.UDPRxDropped);
}

}  // namespace kova
