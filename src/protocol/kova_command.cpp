#include "protocol/kova_command.h"

#include <cstring>

#include "protocol/command_tables.h"

namespace kova {

namespace {

// In unicast packets this argument byte ends a variable-length argument early.
constexpr uint8_t kStopByte = 0xFF;
constexpr int32_t kRawPacketMax = 128;
constexpr int32_t kRawHeaderSize = 2;

void StoreLength(uint8_t* packet, int32_t length) {
  packet[0] = static_cast<uint8_t>((length >> 8) & 0xFF);
  packet[1] = static_cast<uint8_t>(length & 0xFF);
}

// Fills the template of one row into a stack buffer and copies the finished
// packet to out. A template that would not fit gives 0 rather than a cut
// packet; so does a '?' with no argument bytes to take from.
template <int32_t kBufferSize>
int32_t BuildFromRow(const CommandEntry& row, const uint8_t* args, bool stop_on_ff, uint8_t* out) {
  uint8_t packet[kBufferSize];
  packet[2] = row.id[0];
  packet[3] = row.id[1];
  int32_t write_pos = kPacketHeaderSize;
  int32_t arg_pos = 0;
  for (const char* c = row.text; *c != kTemplateEnd; ++c) {
    if (*c == '\0' || write_pos >= kBufferSize) {
      return 0;
    }
    if (*c != kArgumentMark) {
      packet[write_pos++] = static_cast<uint8_t>(*c);
      continue;
    }
    if (args == nullptr) {
      return 0;
    }
    const uint8_t arg = args[arg_pos];
    if (stop_on_ff && arg == kStopByte) {
      break;
    }
    packet[write_pos++] = arg;
    ++arg_pos;
  }
  if (write_pos <= kPacketHeaderSize) {
    return 0;
  }
  StoreLength(packet, write_pos);
  std::memcpy(out, packet, static_cast<size_t>(write_pos));
  return write_pos;
}

}  // namespace

int32_t CKOVA_Command::BuildBroadcastPacket(uint8_t index, const uint8_t* args,
                                            uint8_t* out) const {
  if (index >= kBroadcastCommandCount) {
    return 0;
  }
  return BuildFromRow<kBroadcastPacketMax>(BroadcastCommandTable[index], args, false, out);
}

int32_t CKOVA_Command::BuildUDPPacket(uint8_t index, const uint8_t* args, uint8_t* out) const {
  if (index >= kUDPCommandCount) {
    return 0;
  }
  return BuildFromRow<kUDPPacketMax>(UDPCommandTable[index], args, true, out);
}

int32_t CKOVA_Command::BuildRawPacket(const uint8_t* data, int32_t length, uint8_t* out) const {
  if (length <= 0 || length > kRawPacketMax - kRawHeaderSize || data == nullptr) {
    return 0;
  }
  uint8_t packet[kRawPacketMax];
  const int32_t total = length + kRawHeaderSize;
  StoreLength(packet, total);
  std::memcpy(packet + kRawHeaderSize, data, static_cast<size_t>(length));
  std::memcpy(out, packet, static_cast<size_t>(total));
  return total;
}

const CKOVA_Command& KovaCommand() {
  static const CKOVA_Command instance{};
  return instance;
}

}  // namespace kova
