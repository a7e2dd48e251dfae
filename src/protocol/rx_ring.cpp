#include "protocol/rx_ring.h"

#include <atomic>

#include "common/shared_buffers.h"
#include "protocol/receive_path.h"

namespace kova {

namespace {

// Const for the worker's reads, mutable for the moves.
template <typename Buffers>
auto& WriteIndex(Buffers& b, Ring ring) {
  return ring == Ring::kBroadcast ? b.BroadcastRxWrite : b.UDPRxWrite;
}

template <typename Buffers>
auto& ReadIndex(Buffers& b, Ring ring) {
  return ring == Ring::kBroadcast ? b.BroadcastRxRead : b.UDPRxRead;
}

uint8_t* Bytes(const SharedBuffers& b, Ring ring) {
  return ring == Ring::kBroadcast ? b.BroadcastRxRing.get() : b.UDPRxRing.get();
}

uint16_t Next(uint16_t index) {
  return static_cast<uint16_t>((index + 1) & SharedBuffers::kRingMask);
}

}  // namespace

bool RingAvailable(const SharedBuffers& b, Ring ring) {
  // Acquire pairs with the writer's release: every byte below the write
  // index is visible once the index is.
  return ReadIndex(b, ring).load(std::memory_order_relaxed) !=
         WriteIndex(b, ring).load(std::memory_order_acquire);
}

uint8_t RingPeek(const SharedBuffers& b, Ring ring) {
  return Bytes(b, ring)[ReadIndex(b, ring).load(std::memory_order_relaxed)];
}

void RingSkip(SharedBuffers& b, Ring ring) {
  // Moving past the write index would turn the whole ring into unread data.
  if (!RingAvailable(b, ring)) {
    return;
  }
  std::atomic<uint16_t>& read = ReadIndex(b, ring);
  // Release: the byte has been read before the writer may reuse its slot.
  read.store(Next(read.load(std::memory_order_relaxed)), std::memory_order_release);
}

bool RingAppend(SharedBuffers& b, Ring ring, const uint8_t* data, int length) {
  std::atomic<uint16_t>& write = WriteIndex(b, ring);
  uint8_t* bytes = Bytes(b, ring);
  const uint16_t start = write.load(std::memory_order_relaxed);
  const uint16_t read = ReadIndex(b, ring).load(std::memory_order_acquire);
  const int used = (start - read) & SharedBuffers::kRingMask;
  const int room = SharedBuffers::kRingSize - 1 - used;
  if (length < 0 || length + 1 > room) {
    return false;
  }
  uint16_t at = start;
  bytes[at] = kDatagramMarker;
  at = Next(at);
  for (int i = 0; i < length; ++i) {
    bytes[at] = data[i];
    at = Next(at);
  }
  // The bytes are published together with the index that covers them.
  write.store(at, std::memory_order_release);
  return true;
}

}  // namespace kova
