#include "common/format.h"
#include "controller/engine.h"
#include "protocol/hex_dump.h"
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

void TraceFrame(Engine& e, const FrameDecoder& d) {
  if (d.broadcast) {
    e.Log.Say(0, Format("\nBoradcast_RecvDecode(%d) = ", d.expected));
    TraceHexDump(e.Log, d.frame, d.count, DumpIndent::kTwo);
  } else {
    e.Log.Say(0, Format("\n    UDP_RecvDecode(%d=%d) = ", d.count, d.expected));
    TraceHexDump(e.Log, d.frame, d.count, DumpIndent::kSix);
  }
}

void TraceDroppedFrame(Engine& e, const FrameDecoder& d) {
  if (d.broadcast) {
    e.Log.Say(0, Format("\nBoradcast_RecvDecode(%d) ... dropped !", d.expected));
  } else {
    e.Log.Say(0, Format("\n    UDP_RecvDecode(%d) ... dropped !", d.expected));
  }
}

uint8_t Take(Engine& e, Ring ring) {
  const uint8_t byte = RingPeek(e.Buf, ring);
  RingSkip(e.Buf, ring);
  return byte;
}

void StepFrameDecoder(Engine& e, const FrameDecoder& d) {
  switch (d.state) {
    case kFrameStart:
      d.state = kFindMarker;
      break;
    case kFindMarker:
      if (RingAvailable(e.Buf, d.ring)) {
        if (Take(e, d.ring) == kDatagramMarker) {
          d.state = kLengthHigh;
        }
      }
      break;
    case kLengthHigh:
      if (RingAvailable(e.Buf, d.ring)) {
        d.frame[0] = Take(e, d.ring);
        d.count = 1;
        d.expected = d.frame[0] * 256;
        d.state = kLengthLow;
      }
      break;
    case kLengthLow:
      if (RingAvailable(e.Buf, d.ring)) {
        d.frame[1] = Take(e, d.ring);
        d.count += 1;
        d.expected += d.frame[1];
        // A length that cannot be a frame, or would not fit the buffer, is
        // not followed: the replies behind it would be swallowed as its body.
        if (d.expected < kMinFrameLength || d.expected > SharedBuffers::kFrameSize) {
          TraceDroppedFrame(e, d);
          d.state = kFindMarker;
        } else {
          d.state = kFrameBody;
        }
      }
      break;
    case kFrameBody:
      if (RingAvailable(e.Buf, d.ring)) {
        d.frame[d.count] = Take(e, d.ring);
        d.count += 1;
        if (d.count >= d.expected) {
          d.state = kFrameComplete;
        }
      }
      break;
    case kFrameComplete:
      TraceFrame(e, d);
      if (d.broadcast) {
        Broadcast_ReplyHandle(e, d.frame, d.expected);
      } else {
        UDP_ReplyHandle(e, d.frame, d.expected);
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

// Stores one byte of the text line. A line longer than UDPMessage is dropped
// whole, and the decoder looks for the next datagram's marker.
bool StoreLineByte(Engine& e, uint8_t byte) {
  SharedBuffers& b = e.Buf;
  if (b.UDPMessageLen >= SharedBuffers::kUDPMessageSize) {
    e.Log.Say(0, Format("\n    UDP_RecvMsgDecode(%d) ... dropped !", b.UDPMessageLen + 1));
    b.UDPMessageLen = 0;
    e.UDPMsgState = kLineFindMarker;
    return false;
  }
  b.UDPMessage[b.UDPMessageLen] = byte;
  b.UDPMessageLen += 1;
  return true;
}

}  // namespace

void Boradcast_RecvDecode(Engine& e) {
  SharedBuffers& b = e.Buf;
  StepFrameDecoder(e, {e.BroadcastDecodeState, Ring::kBroadcast, b.BroadcastFrame.get(),
                       b.BroadcastFrameExpected, b.BroadcastFrameCount, true});
}

void UDP_RecvDecode(Engine& e) {
  SharedBuffers& b = e.Buf;
  StepFrameDecoder(e, {e.UDPDecodeState, Ring::kUDP, b.UDPFrame.get(), b.UDPFrameExpected,
                       b.UDPFrameCount, false});
}

void UDP_RecvMsgDecode(Engine& e) {
  SharedBuffers& b = e.Buf;
  switch (e.UDPMsgState) {
    case kLineIdle:
      break;
    case kLineArmed:
      e.UDPMsgDone = 0;
      b.UDPMessageLen = 0;
      e.UDPMsgState = kLineFindMarker;
      break;
    case kLineFindMarker:
      if (RingAvailable(b, Ring::kUDP)) {
        if (Take(e, Ring::kUDP) == kDatagramMarker) {
          e.UDPMsgState = kLineText;
        }
      }
      break;
    case kLineText:
      if (RingAvailable(b, Ring::kUDP)) {
        const uint8_t byte = Take(e, Ring::kUDP);
        if (StoreLineByte(e, byte) && byte == kCR) {
          e.UDPMsgState = kLineAfterCR;
        }
      }
      break;
    case kLineAfterCR:
      if (RingAvailable(b, Ring::kUDP)) {
        const uint8_t byte = Take(e, Ring::kUDP);
        if (StoreLineByte(e, byte)) {
          e.UDPMsgState = (byte == kLF) ? kLineComplete : kLineFindMarker;
        }
      }
      break;
    case kLineComplete:
      e.Log.Say(0, Format("\n    UDP_RecvMsgDecode(%d) = ", b.UDPMessageLen));
      TraceHexDump(e.Log, b.UDPMessage.get(), b.UDPMessageLen, DumpIndent::kSix);
      e.UDPMsgState = STEP_OK;
      break;
    case STEP_OK:
      e.UDPMsgDone = 1;
      e.UDPMsgState = STEP_END;
      break;
    default:  // STEP_END and any value without a row
      e.UDPMsgState = kLineIdle;
      break;
  }
}

void UDP_RecvMsgStart(Engine& e) {
  if (e.UDPMsgState == kLineIdle) {
    e.UDPMsgState = kLineArmed;
  }
}

bool UDP_RecvMsgIsIdle(const Engine& e) {
  return e.UDPMsgState == kLineIdle;
}

int32_t UDP_RecvMsgResult(const Engine& e) {
  return e.UDPMsgDone;
}

bool UDP_RxAvailable(const Engine& e) {
  return RingAvailable(e.Buf, Ring::kUDP);
}

uint8_t UDP_RxPeek(const Engine& e) {
  return RingPeek(e.Buf, Ring::kUDP);
}

void UDP_RxSkip(Engine& e) {
  RingSkip(e.Buf, Ring::kUDP);
}

}  // namespace kova
