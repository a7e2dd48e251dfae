#pragma once

#include <cstdint>
#include <string>

namespace kova {

class MessageLog;

// Where each 16-byte line of a dump starts: six spaces in (sockets and the
// UDP decoders) or two (the broadcast decoder).
enum class DumpIndent { kSix, kTwo };

// Who the trace is written for. The worker composes every trace into
// MsgText; a caller on the front end's thread must leave MsgText alone.
enum class TraceTo { kMsgText, kListOnly };

// One trace line (show flag 0).
void Trace(MessageLog& log, TraceTo to, const std::string& text);

// Traces `length` bytes as upper-case hex pairs, one message per byte, a new
// indented line every 16 bytes.
void TraceHexDump(MessageLog& log, const uint8_t* data, int length, DumpIndent indent,
                  TraceTo to = TraceTo::kMsgText);

}  // namespace kova
