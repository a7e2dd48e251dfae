#pragma once

#include <cstdint>

// Where the reply handlers put what the board answered and where the
// machines read it: broadcast replies in DeviceRecord, unicast replies in
// UDPReply. A flag is 1 once its reply has arrived.
namespace kova::device_record {
constexpr int kAddress = 0;      // "ETH_REQ": the board's own address, 4 bytes
constexpr int kVersionFlag = 4;  // "FWVER_REQ" answered
constexpr int kVersion = 5;      // its two bytes, major and minor
// The acknowledgement flags of the commands with codes 2 to 6 ("SET_DHCPMODE"
// to "E2P_DEFAULT"), at kAckFlags + code.
constexpr int kAckFlags = 5;
constexpr int kBootloaderAck = kAckFlags + 5;  // "BOOTLOADER"
constexpr int kDefaultAck = kAckFlags + 6;     // "E2P_DEFAULT"
// "E2P_READ": the EEPROM address asked for, 2 bytes, and the answer from
// kE2pData to the record's end; the platform's check code is its first two.
constexpr int kE2pAddress = 13;
constexpr int kE2pData = 15;
constexpr int kCheckCode = kE2pData;
// The EEPROM address of the platform's check code.
constexpr uint8_t kPlatformMarkAddress[2] = {0xFE, 0x02};
}  // namespace kova::device_record

namespace kova::udp_reply {
constexpr int kVersionFlag = 0;
constexpr int kSetModelNameFlag = 10;  // "SET_MODELNAME" acknowledged
constexpr int kModelNameFlag = 11;     // "GET_MODELNAME" answered
constexpr int kModelName = 12;
constexpr int kModelNameLength = 16;
constexpr int kEepromFlag = 28;  // "GET_E2P256" answered
constexpr int kEeprom = 29;
constexpr int kEepromLength = 256;
// The remote update's commands: the acknowledgement byte (0x06) or refusal.
constexpr int kRemoteAck = 286;
}  // namespace kova::udp_reply

// The answer to "ETH_REQ" (a broadcast reply, code 0x00): the board's MAC
// at 21..26, the address it reports at 27..30.
namespace kova::address_answer {
constexpr uint8_t kTable = 0x80;
constexpr uint8_t kCode = 0x00;
constexpr int kMacAt = 21;
constexpr int kAddressAt = 27;
constexpr int kMinLength = 31;
}  // namespace kova::address_answer
