#pragma once

namespace kova {

class MessageLog;
struct SharedBuffers;

// The FN2 button: a trace (show flag 0) of the application image's length and
// first 128 bytes.
void DumpAppImage(MessageLog& log, const SharedBuffers& buf);

}  // namespace kova
