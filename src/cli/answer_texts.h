#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kova::cli {

// The model name field up to its first 0x00; bytes outside printable ASCII
// as \xNN.
std::string ModelNameText(const std::vector<uint8_t>& field);

// 16 bytes a line: offset, hex bytes, and the printable ones as text.
//   0000  00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  |................|
std::string HexDumpWithOffsets(const std::vector<uint8_t>& bytes);

// Two upper-case hex digits per byte, no separator.
std::string HexBytes(const std::vector<uint8_t>& bytes);

// The line that ends a failed operation on stderr, after the program's name:
// "failed: the board did not answer (no-reply)".
std::string FailureLine(const std::string& reason);

// The digits the version message shows: "0.107" for 0x01 0x07.
std::string VersionText(uint8_t major, uint8_t minor);

}  // namespace kova::cli
