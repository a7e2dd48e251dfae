#include "protocol/line_exchange.h"

#include <cstring>
#include <string>

#include "common/countdown_slots.h"
#include "common/step_states.h"
#include "protocol/channels.h"
#include "protocol/link.h"
#include "protocol/receive_path.h"

namespace kova {

namespace {

enum LineOps : int32_t { kOpCommand = 0, kOpCollect = 1, kOpData = 2 };

// Running states; the end states are the shared STEP_OK, STEP_FAIL, STEP_END.
constexpr uint8_t kAccepted = 1;
constexpr uint8_t kSent = 2;
constexpr uint8_t kCollect = 3;
constexpr uint8_t kMatch = 4;

constexpr int kStringPacket = 2;
constexpr int kDataPacket = 1;

int Post(Link& link, int32_t op, std::initializer_list<const char*> replies, LineMatcher matcher) {
  if (link.LineState != 0 || replies.size() > kMaxExpectedLines) {
    return 0;
  }
  link.LineOp = op;
  link.LineReplyMatcher = matcher;
  link.LineExpectedCount = 0;
  for (const char* reply : replies) {
    link.LineExpected[link.LineExpectedCount++] = reply;
  }
  link.LineState = kAccepted;
  return 1;
}

int MatchLine(const Link& link) {
  const uint8_t* line = link.Buf.UDPMessage.get();
  const int32_t length = link.Buf.UDPMessageLen;
  if (link.LineReplyMatcher != nullptr) {
    return link.LineReplyMatcher(line, length);
  }
  for (int i = 0; i < link.LineExpectedCount; ++i) {
    const std::string& expected = link.LineExpected[i];
    if (static_cast<int32_t>(expected.size()) == length &&
        std::memcmp(expected.data(), line, expected.size()) == 0) {
      return i;
    }
  }
  return -1;
}

uint8_t Arm(Link& link) {
  UDP_RecvMsgStart(link);
  link.Countdown.Set(countdown::kLineBound, kLineBoundTicks);
  return kCollect;
}

uint8_t Send(Link& link) {
  int accepted = 0;
  if (link.LineOp == kOpData) {
    accepted = UDP_Send(link, kDataPacket);
  } else {
    link.UDPSendText = link.LineText + "\r\n";
    // Its reply is the next line: an answer to an earlier command still
    // waiting (the board's own repeat, or the network's) must not pass for it.
    link.UDPDiscardQueued = true;
    accepted = UDP_Send(link, kStringPacket);
  }
  // A refused request would leave the previous request's result to be read.
  if (accepted != 1) {
    link.LineFailure = FailReason::kSocketFailed;
    return STEP_FAIL;
  }
  return kSent;
}

}  // namespace

int Line_Command(Link& link, const std::string& text, std::initializer_list<const char*> replies) {
  if (Post(link, kOpCommand, replies, nullptr) != 1) {
    return 0;
  }
  link.LineText = text;
  return 1;
}

int Line_Command(Link& link, const std::string& text, LineMatcher matcher) {
  if (Post(link, kOpCommand, {}, matcher) != 1) {
    return 0;
  }
  link.LineText = text;
  return 1;
}

int Line_Collect(Link& link, std::initializer_list<const char*> replies) {
  return Post(link, kOpCollect, replies, nullptr);
}

int Line_SendData(Link& link, const uint8_t* data, int32_t length) {
  if (length < 0 || length > SharedBuffers::kPacketSize || link.LineState != 0) {
    return 0;
  }
  if (data != link.Buf.UDPPacket.get()) {
    std::memcpy(link.Buf.UDPPacket.get(), data, static_cast<size_t>(length));
  }
  link.Buf.UDPPacketLen = length;
  return Post(link, kOpData, {}, nullptr);
}

bool Line_IsIdle(const Link& link) {
  return link.LineState == 0;
}

int32_t Line_Result(const Link& link) {
  return link.LineDone;
}

int32_t Line_Matched(const Link& link) {
  return link.LineMatched;
}

namespace {

void LineStep(Link& link) {
  switch (link.LineState) {
    case 0:
      break;
    case kAccepted:
      link.LineDone = 0;
      link.LineMatched = -1;
      link.LineFailure = FailReason::kNone;
      link.LineState = (link.LineOp == kOpCollect) ? Arm(link) : Send(link);
      break;
    case kSent:
      if (!UDP_IsIdle(link)) {
        break;
      }
      if (UDP_Result(link) != 1) {
        link.LineFailure = FailReason::kSocketFailed;
        link.LineState = STEP_FAIL;
      } else if (link.LineOp == kOpData) {
        link.LineMatched = 0;
        link.LineState = STEP_OK;
      } else {
        link.LineState = Arm(link);
      }
      break;
    case kCollect:
      if (UDP_RecvMsgIsIdle(link)) {
        if (UDP_RecvMsgResult(link) != 1) {
          link.LineFailure = FailReason::kUnexpectedReply;
          link.LineState = STEP_FAIL;
          break;
        }
        const std::string line(link.Buf.UDPMessage.get(),
                               link.Buf.UDPMessage.get() + link.Buf.UDPMessageLen);
        link.LineMatched = MatchLine(link);
        // The line before, once more and no answer here, is that line
        // duplicated on its way (a copy that came after this request left):
        // the line after it is collected, within the same bound.
        if (link.LineMatched < 0 && line == link.LineLast) {
          UDP_RecvMsgStart(link);
          break;
        }
        link.LineLast = line;
        link.Countdown.Set(countdown::kUnicastReply, kLineMatchTicks);
        link.LineState = kMatch;
      } else if (link.Countdown.Get(countdown::kLineBound) == 0) {
        UDP_RecvMsgReset(link);
        link.Log.Say(0, "\n    UDP_RecvMsgDecode() ... no reply !");
        link.LineFailure = FailReason::kNoReply;
        link.LineState = STEP_FAIL;
      }
      break;
    case kMatch:
      if (link.Countdown.Get(countdown::kUnicastReply) == 0) {
        link.LineFailure = FailReason::kUnexpectedReply;
        link.LineState = STEP_FAIL;
      } else if (link.LineMatched >= 0) {
        link.LineState = STEP_OK;
      }
      break;
    case STEP_OK:
      link.LineDone = 1;
      link.LineState = STEP_END;
      break;
    case STEP_FAIL:
      link.LineDone = 0;
      link.LineState = STEP_END;
      break;
    default:
      link.LineState = 0;
      break;
  }
}

}  // namespace

bool Line_applay(Link& link) {
  if (link.LineState == 0) {
    return false;  // idle: nothing to compare
  }
  const auto before = link.LineRecord();
  LineStep(link);
  return link.LineRecord() != before;
}

}  // namespace kova
