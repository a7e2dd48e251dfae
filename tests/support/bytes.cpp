#include "bytes.h"

#include <algorithm>

namespace kova::test {

namespace {

const char kDigits[] = "0123456789ABCDEF";

}  // namespace

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes Counting(size_t n, uint8_t first) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<uint8_t>(first + i);
  }
  return bytes;
}

Bytes Frame(uint8_t table, uint8_t code, const Bytes& body) {
  const size_t length = body.size() + 4;
  // Sized once: growing a four-byte vector makes GCC 12 at -O3 warn of a
  // copy past its end that never happens.
  Bytes frame(length);
  frame[0] = static_cast<uint8_t>(length >> 8);
  frame[1] = static_cast<uint8_t>(length & 0xFF);
  frame[2] = table;
  frame[3] = code;
  std::copy(body.begin(), body.end(), frame.begin() + 4);
  return frame;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string Dump(const Bytes& bytes, const char* lineStart) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) {
      text += lineStart;
    }
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
    text += ' ';
  }
  return text;
}

}  // namespace kova::test
