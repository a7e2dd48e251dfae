#include "protocol/hex_dump.h"
#include "common/hex_digit.h"

#include "common/format.h"
#include "common/message_log.h"

namespace kova {

namespace {

constexpr int kBytesPerLine = 16;

}  // namespace

void Trace(MessageLog& log, TraceTo to, const std::string& text) {
  if (to == TraceTo::kMsgText) {
    log.Say(0, text);
  } else {
    log.AppendMessage(0, text);
  }
}

void TraceHexDump(MessageLog& log, const uint8_t* data, int length, DumpIndent indent, TraceTo to) {
  for (int i = 0; i < length; ++i) {
    const char high = HexHigh(data[i]);
    const char low = HexLow(data[i]);
    std::string piece;
    if (i % kBytesPerLine != 0) {
      piece = Format("%c%c ", high, low);
    } else if (indent == DumpIndent::kSix) {
      piece = Format("\n      %c%c ", high, low);
    } else {
      piece = Format("\n  %c%c ", high, low);
    }
    Trace(log, to, piece);
  }
}

}  // namespace kova
