#include "procedures/srecord_image.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "common/hex_digit.h"

namespace kova {

namespace {

bool IsData(uint8_t type) {
  return type == '1' || type == '2' || type == '3';
}

bool IsCount(uint8_t type) {
  return type == '5' || type == '6';
}

bool IsEnd(uint8_t type) {
  return type == '7' || type == '8' || type == '9';
}

// The bytes of a record's address field; S4 is reserved and has none known.
int AddressBytes(uint8_t type) {
  switch (type) {
    case '2':
    case '6':
    case '8':
      return 3;
    case '3':
    case '7':
      return 4;
    case '4':
      return 0;
    default:
      return 2;
  }
}

bool IsBlank(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The first byte of [from, to) that is not blank, or `to`.
int32_t FirstNonBlank(const SRecordText& t, int32_t from, int32_t to) {
  while (from < to && IsBlank(t.bytes[from])) {
    ++from;
  }
  return from;
}

// What is wrong with the line [from, end) as a line to send.
const char* LineProblem(const SRecordText& t, int32_t from, int32_t end) {
  for (int32_t i = from; i < end; ++i) {
    if (t.bytes[i] == '\r' || t.bytes[i] == '\n') {
      return "lines must end in CR LF";
    }
  }
  if (end - from > kSRecordLineMax) {
    return "line too long";
  }
  for (int32_t i = from; i < end; ++i) {
    // 0xFF would end the argument early; nothing else unprintable belongs in
    // a record either.
    if (t.bytes[i] < 0x20 || t.bytes[i] > 0x7E) {
      return "not an S-record file";
    }
  }
  return nullptr;
}

// What is wrong with the record on the line [from, end), whose type is a
// digit; `address` receives its address field. Blanks after the checksum
// travel with the line but are no part of the record.
const char* RecordProblem(const SRecordText& t, int32_t from, int32_t end, uint32_t& address) {
  while (end > from + 2 && t.bytes[end - 1] == ' ') {
    --end;
  }
  const int32_t first = from + 2;
  for (int32_t i = first; i < end; ++i) {
    if (HexValue(t.bytes[i]) < 0) {
      return "bad hexadecimal digit";
    }
  }
  const int32_t digits = end - first;
  if (digits < 2 || digits % 2 != 0) {
    return "wrong byte count";
  }
  const auto byteAt = [&t, first](int32_t k) {
    return static_cast<uint32_t>(HexValue(t.bytes[first + 2 * k]) * 16 +
                                 HexValue(t.bytes[first + 2 * k + 1]));
  };
  // The count covers the address, the data and the checksum.
  const int32_t count = static_cast<int32_t>(byteAt(0));
  const int addressBytes = AddressBytes(t.bytes[from + 1]);
  if (digits != 2 * (count + 1) || count < addressBytes + 1) {
    return "wrong byte count";
  }
  uint32_t sum = 0;
  for (int32_t k = 0; k < count; ++k) {
    sum += byteAt(k);
  }
  if ((~sum & 0xFFu) != byteAt(count)) {
    return "wrong checksum";
  }
  address = 0;
  for (int k = 1; k <= addressBytes; ++k) {
    address = (address << 8) | byteAt(k);
  }
  return nullptr;
}

}  // namespace

int32_t SRecordText::LineEnd(int32_t from) const {
  for (int32_t i = from; i + 1 < length; ++i) {
    if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
      return i;
    }
  }
  return length;
}

int32_t SRecordText::NextRecord(int32_t from) const {
  const uint8_t* end = bytes + length;
  const uint8_t* found = std::find(bytes + std::min(from, length), end, 'S');
  return static_cast<int32_t>(found - bytes);
}

int SRecordText::LineNumber(int32_t at) const {
  return 1 + static_cast<int>(std::count(bytes, bytes + std::min(at, length), '\n'));
}

bool SRecordTransferGoesOn(const SRecordText& t, int32_t at) {
  const uint8_t type = t.TypeAt(at);
  return type == '3' || IsCount(type);
}

// The transfer sends the first line whatever its type, then every record
// after it up to the end record (S7 to S9), and installs whatever it has sent
// once that one is acknowledged. So a file is only sent when every one of
// those lines arrives whole as a record, nothing the searches skip is more
// than a blank, and nothing follows the end record: a line lost on the way
// would be a hole in the installed firmware.
SRecordRefusal CheckSRecordFile(const SRecordText& t) {
  if (t.length <= 0) {
    return {"empty file", 0};
  }
  int32_t dataRecords = 0;
  std::vector<std::pair<int32_t, uint32_t>> counts;  // where each count record is, its count
  int32_t line = 0;
  int32_t skippedFrom = 0;
  for (bool first = true;; first = false) {
    const int32_t end = t.LineEnd(line);
    if (const char* problem = LineProblem(t, line, end)) {
      return {problem, line};
    }
    const uint8_t type = t.TypeAt(line);
    if (first) {
      if (t.bytes[line] != 'S' || end - line < 2 || type < '0' || type > '9') {
        return {"not an S-record file", line};
      }
    } else if (type != '3' && !IsCount(type) && !IsEnd(type)) {
      return {(type == '1' || type == '2') ? "not an S3 file" : "no end record", line};
    }
    const int32_t skipped = FirstNonBlank(t, skippedFrom, line);
    if (skipped < line) {
      return {"not a record", skipped};
    }
    uint32_t address = 0;
    if (const char* problem = RecordProblem(t, line, end, address)) {
      return {problem, line};
    }
    if (IsData(type)) {
      ++dataRecords;
    } else if (IsCount(type)) {
      counts.emplace_back(line, address);
    }
    if (!first && IsEnd(type)) {
      const int32_t after = FirstNonBlank(t, end, t.length);
      if (after < t.length) {
        return {"text after the end record", after};
      }
      for (const auto& [at, count] : counts) {
        if (count != static_cast<uint32_t>(dataRecords)) {
          return {"wrong record count", at};
        }
      }
      return {};
    }
    skippedFrom = end;
    line = t.NextRecord(end);
    if (line >= t.length) {
      return {"no end record", t.length};
    }
  }
}

}  // namespace kova
