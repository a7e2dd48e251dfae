#pragma once

#include <cstdint>

#include "protocol/command_tables.h"

namespace kova {

// The longest line a SEND_FILE command carries; a longer one would be cut.
constexpr int32_t kSRecordLineMax = kSendFileArgumentCount;

// The firmware of a remote update as the procedure reads it: S-record text
// with CR LF line ends. Every search stops at the end of the image.
struct SRecordText {
  const uint8_t* bytes;
  int32_t length;

  // Where the line starting at `from` ends: at its CR LF, or at the end of
  // the image for a last line without one.
  int32_t LineEnd(int32_t from) const;

  // The next record: the first "S" at or after `from`, or the end.
  int32_t NextRecord(int32_t from) const;

  // The record type of the line at `at`: its second character.
  uint8_t TypeAt(int32_t at) const { return at + 1 < length ? bytes[at + 1] : 0; }

  // Counted from 1.
  int LineNumber(int32_t at) const;
};

// Whether the transfer goes on after the record at `at` has been sent: it
// does after data (S3) and count (S5, S6) records, and ends with any other.
bool SRecordTransferGoesOn(const SRecordText& t, int32_t at);

struct SRecordRefusal {
  const char* why = nullptr;  // null: the file may be sent
  int32_t at = 0;             // where the fault is
};

// Walks the file exactly as the transfer will, checking every line it is to
// send and everything it would skip; a refusal names the first fault.
SRecordRefusal CheckSRecordFile(const SRecordText& t);

}  // namespace kova
