#include "protocol/rx_ring.h"

#include <atomic>

#include "common/shared_buffers.h"
#include "protocol/receive_path.h"

namespace kova {

namespace {

// The parts of one ring.
struct Parts {
  std::atomic<uint16_t>& write;
  std::atomic<uint16_t>& read;
  std::atomic<uint16_t>& lengthWrite;
  std::atomic<uint16_t>& lengthRead;
  uint8_t* bytes;
  uint16_t* lengths;
};

Parts Of(SharedBuffers& b, Ring ring) {
  if (ring == Ring::kBroadcast) {
    return {b.BroadcastRxWrite,      b.BroadcastRxRead,       b.BroadcastRxLengthWrite,
            b.BroadcastRxLengthRead, b.BroadcastRxRing.get(), b.BroadcastRxLengths.get()};
  }
  return {b.UDPRxWrite,      b.UDPRxRead,       b.UDPRxLengthWrite,
          b.UDPRxLengthRead, b.UDPRxRing.get(), b.UDPRxLengths.get()};
}

// The worker's reads need no write access; the parts are shared with the moves.
Parts Of(const SharedBuffers& b, Ring ring) {
  return Of(const_cast<SharedBuffers&>(b), ring);
}

auto& Left(SharedBuffers& b, Ring ring) {
  return ring == Ring::kBroadcast ? b.BroadcastRxLeft : b.UDPRxLeft;
}

uint16_t Next(uint16_t index) {
  return static_cast<uint16_t>((index + 1) & SharedBuffers::kRingMask);
}

int Used(uint16_t write, uint16_t read) {
  return (write - read) & SharedBuffers::kRingMask;
}

// The length of the datagram whose marker is being read; the receive thread
// published it before the marker's byte.
int32_t PopLength(SharedBuffers& b, Ring ring) {
  auto p = Of(b, ring);
  const uint16_t at = p.lengthRead.load(std::memory_order_relaxed);
  if (at == p.lengthWrite.load(std::memory_order_acquire)) {
    return 0;
  }
  const int32_t length = p.lengths[at];
  p.lengthRead.store(Next(at), std::memory_order_release);
  return length;
}

}  // namespace

bool RingAvailable(const SharedBuffers& b, Ring ring) {
  const Parts p = Of(b, ring);
  // Acquire pairs with the writer's release: every byte below the write
  // index is visible once the index is.
  return p.read.load(std::memory_order_relaxed) != p.write.load(std::memory_order_acquire);
}

uint8_t RingPeek(const SharedBuffers& b, Ring ring) {
  const Parts p = Of(b, ring);
  return p.bytes[p.read.load(std::memory_order_relaxed)];
}

void RingSkip(SharedBuffers& b, Ring ring) {
  // Moving past the write index would turn the whole ring into unread data.
  if (!RingAvailable(b, ring)) {
    return;
  }
  int32_t& left = Left(b, ring);
  if (left == 0) {
    left = PopLength(b, ring);  // the marker: its datagram starts
  } else {
    --left;
  }
  auto p = Of(b, ring);
  // Release: the byte has been read before the writer may reuse its slot.
  p.read.store(Next(p.read.load(std::memory_order_relaxed)), std::memory_order_release);
}

int RingLeft(const SharedBuffers& b, Ring ring) {
  return ring == Ring::kBroadcast ? b.BroadcastRxLeft : b.UDPRxLeft;
}

void RingSkipRest(SharedBuffers& b, Ring ring) {
  int32_t& left = Left(b, ring);
  if (left == 0) {
    return;
  }
  // A datagram is published whole, so all of its bytes are in the ring.
  auto p = Of(b, ring);
  const uint16_t read = p.read.load(std::memory_order_relaxed);
  p.read.store(static_cast<uint16_t>((read + left) & SharedBuffers::kRingMask),
               std::memory_order_release);
  left = 0;
}

int RingTake(SharedBuffers& b, Ring ring, uint8_t* out, int max, int stop) {
  int32_t& left = Left(b, ring);
  auto p = Of(b, ring);
  uint16_t read = p.read.load(std::memory_order_relaxed);
  int count = 0;
  while (count < max && left > 0) {
    const uint8_t byte = p.bytes[read];
    out[count++] = byte;
    read = Next(read);
    --left;
    if (byte == stop) {
      break;
    }
  }
  p.read.store(read, std::memory_order_release);
  return count;
}

void RingDiscard(SharedBuffers& b, Ring ring) {
  Parts p = Of(b, ring);
  p.lengthRead.store(p.lengthWrite.load(std::memory_order_acquire), std::memory_order_release);
  p.read.store(p.write.load(std::memory_order_acquire), std::memory_order_release);
  Left(b, ring) = 0;
}

bool RingAppend(SharedBuffers& b, Ring ring, const uint8_t* data, int length) {
  auto p = Of(b, ring);
  const uint16_t start = p.write.load(std::memory_order_relaxed);
  const uint16_t read = p.read.load(std::memory_order_acquire);
  const int room = SharedBuffers::kRingSize - 1 - Used(start, read);
  const uint16_t lengthAt = p.lengthWrite.load(std::memory_order_relaxed);
  const int lengthRoom =
      SharedBuffers::kRingSize - 1 - Used(lengthAt, p.lengthRead.load(std::memory_order_acquire));
  if (length < 0 || length + 1 > room || lengthRoom < 1) {
    return false;
  }
  p.lengths[lengthAt] = static_cast<uint16_t>(length);
  p.lengthWrite.store(Next(lengthAt), std::memory_order_release);
  uint16_t at = start;
  p.bytes[at] = kDatagramMarker;
  at = Next(at);
  for (int i = 0; i < length; ++i) {
    p.bytes[at] = data[i];
    at = Next(at);
  }
  // The bytes are published together with the index that covers them; the
  // length went out before them.
  p.write.store(at, std::memory_order_release);
  return true;
}

}  // namespace kova
