#pragma once

#include <cstdint>

namespace kova {

struct SharedBuffers;

// The two receive rings. The receive thread alone appends and moves a ring's
// write index; the worker alone reads and moves its read index. One slot is
// always left free, so that a full ring is told apart from an empty one.
enum class Ring { kBroadcast, kUDP };

// Worker side: whether a byte is waiting, the byte at the read index, and
// moving past it.
bool RingAvailable(const SharedBuffers& b, Ring ring);
uint8_t RingPeek(const SharedBuffers& b, Ring ring);
void RingSkip(SharedBuffers& b, Ring ring);

// Receive thread side: appends the datagram marker and `length` bytes, or
// nothing at all when they do not fit whole (result false).
bool RingAppend(SharedBuffers& b, Ring ring, const uint8_t* data, int length);

}  // namespace kova
