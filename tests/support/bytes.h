#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kova::test {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts);
// The characters of `s`, without a closing zero.
Bytes Text(const std::string& s);
// `n` bytes counting up from `first`.
Bytes Counting(size_t n, uint8_t first);
// A device frame: length (counting itself), the two id bytes, the body. The
// same framing serves requests and replies (table 0x80 broadcast, 0x81 UDP).
Bytes Frame(uint8_t table, uint8_t code, const Bytes& body);
// Upper-case hex pairs without separators: "0A1B".
std::string Hex(const Bytes& bytes);
// The engine's trace of a byte dump: "%c%c " per byte, a new line starting
// with `lineStart` every 16 bytes.
std::string Dump(const Bytes& bytes, const char* lineStart);

}  // namespace kova::test
