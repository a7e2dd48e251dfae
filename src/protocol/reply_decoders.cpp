#include "common/format.h"
#include "common/step_states.h"
#include "protocol/hex_dump.h"
#include "protocol/link.h"
#include "protocol/receive_path.h"
#include "protocol/rx_ring.h"

namespace kova {

namespace {

// Frame decoder states.
enum : uint8_t {
  kFrameStart = 0,
  kFindMarker = 1,
  kLengthHigh = 2,
  kLengthLow = 3,
  kFrameBody = 4,
  kFrameComplete = 5,
};

// Text decoder states; 0 is idle until UDP_RecvMsgStart arms it.
enum : uint8_t {
  kLineIdle = 0,
  kLineArmed = 1,
  kLineFindMarker = 2,
  kLineText = 3,
  kLineAfterCR = 4,
  kLineComplete = 5,
};

constexpr int32_t kMinFrameLength = 4;  // the length and id bytes
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;

// What tells the two frame decoders apart: ring, buffers, handler, traces.
struct FrameDecoder {
  uint8_t& state;
  Ring ring;
  uint8_t* frame;
  int32_t& expected;
  int32_t& count;
  bool broadcast;
};

void TraceFrame(Link& link, const FrameDecoder& d) {
  if (d.broadcast) {
    link.Log.Say(0, Format("\nBoradcast_RecvDecode(%d) = ", d.expected));
    TraceHexDump(link.Log, d.frame, d.count, DumpIndent::kTwo);
  } else {
    link.Log.Say(0, Format("\n    UDP_RecvDecode(%d=%d) = ", d.count, d.expected));
    TraceHexDump(link.Log, d.frame, d.count, DumpIndent::kSix);
  }
}

void TraceDroppedFrame(Link& link, const FrameDecoder& d) {
  if (d.broadcast) {
    link.Log.Say(0, Format("\nBoradcast_RecvDecode(%d) ... dropped !", d.expected));
  } else {
    link.Log.Say(0, Format("\n    UDP_RecvDecode(%d) ... dropped !", d.expected));
  }
}

uint8_t Take(Link& link, Ring ring) {
  const uint8_t byte = RingPeek(link.Buf, ring);
  RingSkip(link.Buf, ring);
  return byte;
}

// Moves to the next datagram: what is left of the current one cannot start
// a reply, since a board sends every reply in a datagram of its own. True
// once the next datagram's marker has been taken.
bool StartNextDatagram(Link& link, Ring ring) {
  RingSkipRest(link.Buf, ring);
  if (!RingAvailable(link.Buf, ring)) {
    return false;
  }
  return Take(link, ring) == kDatagramMarker;
}

// A frame is decoded from its own datagram only; one that its datagram does
// not complete is dropped. The body comes in one step: a datagram is in the
// ring whole, so decoding costs steps per datagram, not per byte.
void StepFrameDecoder(Link& link, const FrameDecoder& d) {
  switch (d.state) {
    case kFrameStart:
      d.state = kFindMarker;
      break;
    case kFindMarker:
      if (StartNextDatagram(link, d.ring)) {
        d.count = 0;
        d.expected = 0;
        d.state = kLengthHigh;
      }
      break;
    case kLengthHigh:
      if (RingLeft(link.Buf, d.ring) == 0) {
        d.state = kFindMarker;  // an empty datagram
        break;
      }
      d.frame[0] = Take(link, d.ring);
      d.count = 1;
      d.expected = d.frame[0] * 256;
      d.state = kLengthLow;
      break;
    case kLengthLow:
      if (RingLeft(link.Buf, d.ring) == 0) {
        TraceDroppedFrame(link, d);
        d.state = kFindMarker;
        break;
      }
      d.frame[1] = Take(link, d.ring);
      d.count += 1;
      d.expected += d.frame[1];
      // A length that cannot be a frame, or would not fit the buffer, is
      // not followed.
      if (d.expected < kMinFrameLength || d.expected > SharedBuffers::kFrameSize) {
        TraceDroppedFrame(link, d);
        d.state = kFindMarker;
      } else {
        d.state = kFrameBody;
      }
      break;
    case kFrameBody:
      d.count += RingTake(link.Buf, d.ring, d.frame + d.count, d.expected - d.count);
      if (d.count >= d.expected) {
        d.state = kFrameComplete;
      } else {
        TraceDroppedFrame(link, d);  // the datagram ended first
        d.state = kFindMarker;
      }
      break;
    case kFrameComplete:
      TraceFrame(link, d);
      if (d.broadcast) {
        Broadcast_ReplyHandle(link, d.frame, d.expected);
      } else {
        UDP_ReplyHandle(link, d.frame, d.expected);
      }
      d.state = STEP_OK;
      break;
    case STEP_OK:
      d.state = STEP_END;
      break;
    default:  // STEP_END and any value without a row
      d.state = kFrameStart;
      break;
  }
}

// A line that its datagram does not complete, or that does not fit
// UDPMessage, is dropped whole; the decoder goes on with the next datagram.
void DropLine(Link& link, int32_t length) {
  link.Log.Say(0, Format("\n    UDP_RecvMsgDecode(%d) ... dropped !", length));
  link.Buf.UDPMessageLen = 0;
  link.UDPMsgState = kLineFindMarker;
}

}  // namespace

void Boradcast_RecvDecode(Link& link) {
  SharedBuffers& b = link.Buf;
  StepFrameDecoder(link, {link.BroadcastDecodeState, Ring::kBroadcast, b.BroadcastFrame.get(),
                          b.BroadcastFrameExpected, b.BroadcastFrameCount, true});
}

void UDP_RecvDecode(Link& link) {
  SharedBuffers& b = link.Buf;
  StepFrameDecoder(link, {link.UDPDecodeState, Ring::kUDP, b.UDPFrame.get(), b.UDPFrameExpected,
                          b.UDPFrameCount, false});
}

void UDP_RecvMsgDecode(Link& link) {
  SharedBuffers& b = link.Buf;
  switch (link.UDPMsgState) {
    case kLineIdle:
      break;
    case kLineArmed:
      link.UDPMsgDone = 0;
      b.UDPMessageLen = 0;
      link.UDPMsgState = kLineFindMarker;
      break;
    case kLineFindMarker:
      if (StartNextDatagram(link, Ring::kUDP)) {
        b.UDPMessageLen = 0;
        link.UDPMsgState = kLineText;
      }
      break;
    case kLineText: {
      // Up to the CR, all in one step.
      const int room = SharedBuffers::kUDPMessageSize - b.UDPMessageLen;
      b.UDPMessageLen += RingTake(b, Ring::kUDP, b.UDPMessage.get() + b.UDPMessageLen, room, kCR);
      if (b.UDPMessageLen > 0 && b.UDPMessage[b.UDPMessageLen - 1] == kCR) {
        link.UDPMsgState = kLineAfterCR;
      } else if (RingLeft(b, Ring::kUDP) > 0) {
        DropLine(link, b.UDPMessageLen + 1);  // longer than UDPMessage
      } else if (b.UDPMessageLen > 0) {
        DropLine(link, b.UDPMessageLen);
      } else {
        link.UDPMsgState = kLineFindMarker;  // an empty datagram
      }
      break;
    }
    case kLineAfterCR:
      if (RingLeft(b, Ring::kUDP) == 0) {
        DropLine(link, b.UDPMessageLen);
      } else if (b.UDPMessageLen >= SharedBuffers::kUDPMessageSize) {
        DropLine(link, b.UDPMessageLen + 1);
      } else {
        const uint8_t byte = Take(link, Ring::kUDP);
        b.UDPMessage[b.UDPMessageLen] = byte;
        b.UDPMessageLen += 1;
        if (byte == kLF) {
          link.UDPMsgState = kLineComplete;
        } else {
          DropLine(link, b.UDPMessageLen);
        }
      }
      break;
    case kLineComplete:
      link.Log.Say(0, Format("\n    UDP_RecvMsgDecode(%d) = ", b.UDPMessageLen));
      TraceHexDump(link.Log, b.UDPMessage.get(), b.UDPMessageLen, DumpIndent::kSix);
      link.UDPMsgState = STEP_OK;
      break;
    case STEP_OK:
      link.UDPMsgDone = 1;
      link.UDPMsgState = STEP_END;
      break;
    default:  // STEP_END and any value without a row
      link.UDPMsgState = kLineIdle;
      break;
  }
}

void UDP_RecvMsgStart(Link& link) {
  if (link.UDPMsgState == kLineIdle) {
    link.UDPMsgState = kLineArmed;
  }
}

bool UDP_RecvMsgIsIdle(const Link& link) {
  return link.UDPMsgState == kLineIdle;
}

int32_t UDP_RecvMsgResult(const Link& link) {
  return link.UDPMsgDone;
}

void UDP_RecvMsgReset(Link& link) {
  link.UDPMsgState = kLineIdle;
  link.UDPMsgDone = 0;
}

bool UDP_RxAvailable(const Link& link) {
  return RingAvailable(link.Buf, Ring::kUDP);
}

uint8_t UDP_RxPeek(const Link& link) {
  return RingPeek(link.Buf, Ring::kUDP);
}

void UDP_RxSkip(Link& link) {
  RingSkip(link.Buf, Ring::kUDP);
}

}  // namespace kova
