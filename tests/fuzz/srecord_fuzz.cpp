// The remote update's check of an S-record file, on arbitrary file content:
// it accepts exactly the files a plain reading of the format accepts, and of
// an accepted file the transfer sends every record, in order, and nothing
// else.

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "procedures/srecord_image.h"

namespace kova::fuzz {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
    return (c | 0x20) - 'a' + 10;
  }
  return -1;
}

struct Record {
  std::string line;  // as it travels: from its S to its line end
  char type = 0;
  unsigned long address = 0;
};

// One line as a record: printable, at most one SEND_FILE argument long, S
// and a type digit, then hexadecimal pairs (blanks after them travel with the
// line) whose first counts the rest, which end in the ones' complement of
// the sum before it.
bool ReadRecord(const std::string& line, Record& out) {
  if (line.size() < 2 || line.size() > static_cast<size_t>(kSRecordLineMax) || line[0] != 'S' ||
      line[1] < '0' || line[1] > '9') {
    return false;
  }
  for (const char c : line) {
    if (c < 0x20 || c > 0x7E) {
      return false;
    }
  }
  std::string digits = line.substr(2);
  digits.erase(digits.find_last_not_of(' ') + 1);
  if (digits.empty() || digits.size() % 2 != 0) {
    return false;
  }
  std::vector<unsigned> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexDigit(digits[i]);
    const int low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    bytes.push_back(static_cast<unsigned>(high * 16 + low));
  }
  const std::string addressSizes = "2234023432";  // S0 to S9; S4 has none
  const size_t addressBytes = static_cast<size_t>(addressSizes[line[1] - '0'] - '0');
  if (bytes[0] != bytes.size() - 1 || bytes[0] < addressBytes + 1) {
    return false;
  }
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    sum += bytes[i];
  }
  if ((~sum & 0xFFu) != bytes.back()) {
    return false;
  }
  out.line = line;
  out.type = line[1];
  out.address = 0;
  for (size_t i = 1; i <= addressBytes; ++i) {
    out.address = out.address * 256 + bytes[i];
  }
  return true;
}

// The file as the format reads it: lines ended by CR LF; the first is a
// record; then records of data (S3) or counts (S5, S6), each after any
// number of blank lines or blanks, up to an end record (S7 to S9) after
// which only blanks follow; every count is the number of data records
// (S1 to S3). Fills `records` with what a sound transfer sends.
bool ReadFile(const std::string& file, std::vector<Record>& records) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (;;) {
    const size_t end = file.find("\r\n", at);
    lines.push_back(file.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) {
      break;
    }
    at = end + 2;
  }
  bool ended = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t start = i == 0 ? 0 : lines[i].find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
      continue;  // blank
    }
    Record record;
    if (ended || !ReadRecord(lines[i].substr(start), record)) {
      return false;
    }
    const bool goesOn = record.type == '3' || record.type == '5' || record.type == '6';
    ended = i > 0 && (record.type == '7' || record.type == '8' || record.type == '9');
    if (i > 0 && !goesOn && !ended) {
      return false;
    }
    records.push_back(record);
  }
  if (!ended) {
    return false;
  }
  unsigned long dataRecords = 0;
  for (const Record& r : records) {
    dataRecords += (r.type >= '1' && r.type <= '3') ? 1 : 0;
  }
  for (const Record& r : records) {
    if ((r.type == '5' || r.type == '6') && r.address != dataRecords) {
      return false;
    }
  }
  return true;
}

// The lines the transfer sends: the first, then every record it finds
// after each line until the one after which it does not go on.
std::vector<std::string> Transfer(const SRecordText& t) {
  std::vector<std::string> sent;
  int32_t line = 0;
  for (bool first = true;; first = false) {
    Require(line < t.length, "the transfer stays inside the image");
    const int32_t end = t.LineEnd(line);
    sent.emplace_back(reinterpret_cast<const char*>(t.bytes) + line, end - line);
    if (!first && !SRecordTransferGoesOn(t, line)) {
      return sent;
    }
    line = t.NextRecord(end);
  }
}

}  // namespace
}  // namespace kova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kova::fuzz;
  if (size > (1u << 20)) {
    return 0;
  }
  const kova::SRecordText text{data, static_cast<int32_t>(size)};
  const kova::SRecordRefusal refusal = kova::CheckSRecordFile(text);
  const std::string file(reinterpret_cast<const char*>(data), size);
  std::vector<Record> records;
  const bool sound = ReadFile(file, records);
  Require((refusal.why == nullptr) == sound, "a file is sent exactly when it is sound");
  if (refusal.why != nullptr) {
    Require(*refusal.why != '\0', "a refusal gives its reason");
    Require(refusal.at >= 0 && refusal.at <= text.length, "a refusal points into the file");
    return 0;
  }
  const std::vector<std::string> sent = Transfer(text);
  Require(sent.size() == records.size(), "every record is sent, and nothing else");
  for (size_t i = 0; i < sent.size(); ++i) {
    Require(sent[i] == records[i].line, "each record is sent as it stands");
  }
  return 0;
}
