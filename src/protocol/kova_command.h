#pragma once

#include <cstdint>

namespace kova {

// Builds device command packets from the two command tables: a 2-byte
// big-endian length (counting itself), the row's 2 id bytes and the template
// text with every "?" replaced by the next argument byte.
class CKOVA_Command {
 public:
  virtual ~CKOVA_Command() = default;

  // Rows 0..8 of the broadcast table; every argument byte is sent as it is.
  int32_t BuildBroadcastPacket(uint8_t index, const uint8_t* args, uint8_t* out) const;
  // Rows 0..36 of the unicast table; an argument byte 0xFF ends the packet.
  int32_t BuildUDPPacket(uint8_t index, const uint8_t* args, uint8_t* out) const;
  // Frames up to 126 raw bytes behind a 2-byte length, without id bytes.
  int32_t BuildRawPacket(const uint8_t* data, int32_t length, uint8_t* out) const;
};

// The one builder the whole program shares; it keeps no state.
const CKOVA_Command& KovaCommand();

}  // namespace kova
