#pragma once

#include <cstdint>

namespace kova {

// One row of a device command table. The template is ASCII text ending in
// '#'; every '?' takes one argument byte when a packet is built.
struct CommandEntry {
  uint8_t id[2];
  const char* text;
  // Kept with each row as the device firmware lists them; nothing reads them.
  uint16_t value_a;
  uint16_t value_b;
};

constexpr char kTemplateEnd = '#';
constexpr char kArgumentMark = '?';

// Packets are built behind a 2-byte length and the 2 id bytes, in a working
// buffer of fixed size per table.
constexpr int32_t kPacketHeaderSize = 4;
constexpr int32_t kBroadcastPacketMax = 256;
constexpr int32_t kUDPPacketMax = 128;

// Valid indexes are 0..count-1. The broadcast table's last valid row is an
// empty closing row; the unicast table keeps its closing row past the end.
constexpr int32_t kBroadcastCommandCount = 9;
constexpr int32_t kUDPCommandCount = 37;

extern const CommandEntry BroadcastCommandTable[kBroadcastCommandCount];
extern const CommandEntry UDPCommandTable[kUDPCommandCount + 1];

// Row indexes of BroadcastCommandTable. The first six argument bytes of rows
// 1..7 are the target device's MAC address.
namespace broadcast_cmd {
constexpr int32_t kEthReq = 0;
constexpr int32_t kFwVerReq = 1;
constexpr int32_t kSetDhcpMode = 2;
constexpr int32_t kSetIpAdr = 3;
constexpr int32_t kReset = 4;
constexpr int32_t kBootloader = 5;
constexpr int32_t kE2pDefault = 6;
constexpr int32_t kE2pRead = 7;
constexpr int32_t kClosing = 8;
}  // namespace broadcast_cmd

// Row indexes of UDPCommandTable.
namespace udp_cmd {
constexpr int32_t kEthReq = 0;
constexpr int32_t kFwVerReq = 1;
constexpr int32_t kSetDhcpMode = 2;
constexpr int32_t kSetIpAdr = 3;
constexpr int32_t kReset = 4;
constexpr int32_t kRdE2p = 5;
constexpr int32_t kWrE2p = 6;
constexpr int32_t kRdIflash = 7;
constexpr int32_t kBootloader = 8;
constexpr int32_t kSetDhcpName = 9;
constexpr int32_t kSetMacAdr = 10;
constexpr int32_t kSetNetmask = 11;
constexpr int32_t kSetGateway = 12;
constexpr int32_t kSetPriDns = 13;
constexpr int32_t kSetSecDns = 14;
constexpr int32_t kInitE2p = 15;
constexpr int32_t kEraseE2p = 16;
constexpr int32_t kGetBlVer = 17;
constexpr int32_t kCheckE2p = 18;
constexpr int32_t kGetTitleName = 19;
constexpr int32_t kGetCheckCode = 20;
constexpr int32_t kGetDhcpMode = 21;
constexpr int32_t kGetDhcpName = 22;
constexpr int32_t kGetIpAdr = 23;
constexpr int32_t kGetMacAdr = 24;
constexpr int32_t kGetGateway = 25;
constexpr int32_t kGetNetmask = 26;
constexpr int32_t kGetPriDns = 27;
constexpr int32_t kGetSecDns = 28;
constexpr int32_t kGetE2p256 = 29;
constexpr int32_t kGetDhcpStatus = 30;
constexpr int32_t kGetModelName = 31;
constexpr int32_t kSetModelName = 32;
constexpr int32_t kRemoteErase = 33;
constexpr int32_t kSendFile = 34;
constexpr int32_t kRemoteUpdate = 35;
constexpr int32_t kCheckRemoteUpdate = 36;
}  // namespace udp_cmd

// The places SEND_FILE has for its argument: one line of a firmware file.
constexpr int32_t kSendFileArgumentCount = 73;

// Argument bytes a template takes: its '?' marks before the '#'.
constexpr int32_t TemplateArgumentCount(const char* text) {
  int32_t count = 0;
  for (; *text != '\0' && *text != kTemplateEnd; ++text) {
    if (*text == kArgumentMark) {
      ++count;
    }
  }
  return count;
}

// Bytes a template puts into a packet (text and arguments, '#' excluded), or
// -1 when the '#' is missing.
constexpr int32_t TemplateByteCount(const char* text) {
  int32_t count = 0;
  for (; *text != kTemplateEnd; ++text) {
    if (*text == '\0') {
      return -1;
    }
    ++count;
  }
  return count;
}

}  // namespace kova
