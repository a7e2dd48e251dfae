#include "protocol/hex_dump.h"
#include "common/hex_digit.h"

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
  // Every line of the ISP road is dumped before it leaves: the pieces are
  // put together by hand, short enough to need no allocation.
  const std::string lineStart = indent == DumpIndent::kSix ? "\n      " : "\n  ";
  std::string piece;
  for (int i = 0; i < length; ++i) {
    if (i % kBytesPerLine != 0) {
      piece.clear();
    } else {
      piece = lineStart;
    }
    piece += HexHigh(data[i]);
    piece += HexLow(data[i]);
    piece += ' ';
    Trace(log, to, piece);
  }
}

}  // namespace kova
