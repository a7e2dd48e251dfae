#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace kova {

class Link;

// The line-exchange channel: one text line sent on the UDP client socket and
// its reply line collected and matched, as the bootloader dialogue needs it.
// A caller posts a request, polls Line_IsIdle once per pass, then reads
// Line_Result and, for a matched reply, Line_Matched.
//
//   1 accepted: a command or data line is handed to the UDP channel
//   2 sent: waits for the UDP channel; a data line ends here
//   3 collect: the text decoder armed; waits for a line, at most the bound
//   4 match: the collected line against the expected replies, until the
//     match deadline runs out
//   STEP_OK / STEP_FAIL: result 1 / 0   ->   STEP_END   ->   0
//
// Only the first line of a datagram is collected (the decoder skips to the
// next datagram). A line that matches nothing waits out the deadline, so a
// wrong reply fails 2 s after it was collected; a reply that never comes
// fails when the bound runs out, and the decoder is reset then so that
// nothing stays armed for the next exchange. Replies may come twice: what
// earlier commands left queued is discarded as a command leaves, and a line
// that repeats the line collected before and matches nothing is passed over.

// Tells which expected reply a collected line is (its index), or -1.
using LineMatcher = int (*)(const uint8_t* line, int32_t length);

constexpr int kMaxExpectedLines = 3;

// Ticks of the deadline that starts when a line has been collected.
constexpr int32_t kLineMatchTicks = 20;  // 2 s
// Ticks a reply line may take to arrive after its command has left. A real
// chip erases a 32 KiB sector in a few hundred milliseconds; five seconds
// cover a slow part and a loaded host, and an operator is not kept waiting
// long on a silent one.
constexpr int32_t kLineBoundTicks = 50;

// Requests: 1 accepted, 0 refused (the channel is busy, or a reply list is
// longer than kMaxExpectedLines). Expected replies are whole lines, CR LF
// included.

// Sends `text` followed by CR LF and collects the reply.
int Line_Command(Link& link, const std::string& text, std::initializer_list<const char*> replies);
int Line_Command(Link& link, const std::string& text, LineMatcher matcher);
// Collects a further reply line without sending anything.
int Line_Collect(Link& link, std::initializer_list<const char*> replies);
// Sends `length` bytes as they are and expects no reply.
int Line_SendData(Link& link, const uint8_t* data, int32_t length);

bool Line_IsIdle(const Link& link);
// 1 when the line was sent and, where one was expected, a reply matched.
int32_t Line_Result(const Link& link);
// Index of the expected reply that matched, 0 for a data line that left;
// -1 otherwise.
int32_t Line_Matched(const Link& link);

// One step of the channel; the worker runs it once per pass, before the UDP
// channel that carries its lines and steps the text decoder.
bool Line_applay(Link& link);

}  // namespace kova
