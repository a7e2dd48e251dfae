#pragma once

#include <cstdint>

namespace kova {

struct SharedBuffers;

// The two receive rings. The receive thread alone appends and moves a ring's
// write indexes; the worker alone reads and moves its read indexes. One slot
// is always left free, so that a full ring is told apart from an empty one.
// Every datagram is a marker byte followed by its bytes, and its length is
// kept beside the ring: a datagram ends where its length says, whatever
// bytes it carries.
enum class Ring { kBroadcast, kUDP };

// Worker side, byte by byte: whether a byte is waiting, the byte at the read
// index, and moving past it. Moving past a marker starts its datagram.
bool RingAvailable(const SharedBuffers& b, Ring ring);
uint8_t RingPeek(const SharedBuffers& b, Ring ring);
void RingSkip(SharedBuffers& b, Ring ring);

// Worker side, by datagram. Bytes of the current datagram not read yet; 0
// when the next byte, if any, is the marker of the next datagram.
int RingLeft(const SharedBuffers& b, Ring ring);
// Moves past whatever is left of the current datagram.
void RingSkipRest(SharedBuffers& b, Ring ring);
// Copies at most `max` bytes of the current datagram into `out`, stopping
// after the first byte equal to `stop` when `stop` is 0..255; the count.
int RingTake(SharedBuffers& b, Ring ring, uint8_t* out, int max, int stop = -1);

// Worker side: forgets everything in the ring. Only while its socket takes
// nothing, e.g. when a fresh socket is made: the receive thread appends for
// a socket only after the socket's first request.
void RingDiscard(SharedBuffers& b, Ring ring);

// Receive thread side: appends the datagram marker and `length` bytes, or
// nothing at all when they do not fit whole (result false).
bool RingAppend(SharedBuffers& b, Ring ring, const uint8_t* data, int length);

}  // namespace kova
