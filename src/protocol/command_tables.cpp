#include "protocol/command_tables.h"

namespace kova {

namespace {

// The two long templates are spelled in runs of ten marks so their counts can
// be read off; the asserts hold them to the device's argument sizes.
constexpr char kInitE2pTemplate[] =
    "INIT_E2P"
    "??????????"
    "??????????"
    "??????????"
    "??????????"
    "???"
    "#";
static_assert(TemplateArgumentCount(kInitE2pTemplate) == 43);

constexpr char kSendFileTemplate[] =
    "SEND_FILE"
    "??????????"
    "??????????"
    "??????????"
    "??????????"
    "??????????"
    "??????????"
    "??????????"
    "???"
    "#";
static_assert(TemplateArgumentCount(kSendFileTemplate) == kSendFileArgumentCount);

}  // namespace

constexpr CommandEntry BroadcastCommandTable[kBroadcastCommandCount] = {
    {{0x80, 0x00}, "ETH_REQ#", 1, 17},
    {{0x80, 0x01}, "??????FWVER_REQ#", 2, 20},
    {{0x80, 0x02}, "??????SET_DHCPMODE#", 3, 25},
    {{0x80, 0x03}, "??????SET_IPADR????????#", 4, 13},
    {{0x80, 0x04}, "??????RESET#", 5, 18},
    {{0x80, 0x05}, "??????BOOTLOADER#", 6, 19},
    {{0x80, 0x06}, "??????E2P_DEFAULT#", 7, 20},
    {{0x80, 0x07}, "??????E2P_READ??#", 9, 0},
    {{0x80, 0x09}, "#", 0, 0},
};

constexpr CommandEntry UDPCommandTable[kUDPCommandCount + 1] = {
    {{0x81, 0x00}, "ETH_REQ#", 1, 11},
    {{0x81, 0x01}, "FWVER_REQ#", 2, 14},
    {{0x81, 0x02}, "SET_DHCPMODE?#", 3, 0},
    {{0x81, 0x03}, "SET_IPADR????????#", 4, 0},
    {{0x81, 0x04}, "RESET#", 5, 0},
    {{0x81, 0x05}, "RD_E2P?#", 6, 0},
    {{0x81, 0x06}, "WR_E2P??#", 7, 0},
    {{0x81, 0x07}, "RD_IFLASH????#", 8, 0},
    {{0x81, 0x08}, "BOOTLOADER#", 9, 0},
    {{0x81, 0x09}, "SET_DHCPNAME????????????????#", 10, 0},
    {{0x81, 0x0A}, "SET_MACADR??????#", 11, 0},
    {{0x81, 0x0B}, "SET_NETMASK????#", 12, 0},
    {{0x81, 0x0C}, "SET_GATEWAY????#", 13, 0},
    {{0x81, 0x0D}, "SET_PRIDNS????#", 14, 0},
    {{0x81, 0x0E}, "SET_SECDNS????#", 15, 0},
    {{0x81, 0x0F}, kInitE2pTemplate, 16, 0},
    {{0x81, 0x10}, "ERASE_E2P#", 17, 0},
    {{0x81, 0x11}, "GET_BLVER#", 18, 0},
    {{0x81, 0x12}, "CHECK_E2P#", 19, 0},
    {{0x81, 0x13}, "GET_TITLENAME#", 20, 0},
    {{0x81, 0x14}, "GET_CHECKCODE#", 21, 0},
    {{0x81, 0x15}, "GET_DHCPMODE#", 22, 0},
    {{0x81, 0x16}, "GET_DHCPNAME#", 23, 0},
    {{0x81, 0x17}, "GET_IPADR#", 24, 0},
    {{0x81, 0x18}, "GET_MACADR#", 25, 0},
    {{0x81, 0x19}, "GET_GATEWAY#", 26, 0},
    {{0x81, 0x1A}, "GET_NETMASK#", 27, 0},
    {{0x81, 0x1B}, "GET_PRIDNS#", 28, 0},
    {{0x81, 0x1C}, "GET_SECDNS#", 29, 0},
    {{0x81, 0x1D}, "GET_E2P256#", 30, 0},
    {{0x81, 0x1E}, "GET_DHCPSTATUS#", 31, 0},
    {{0x81, 0x1F}, "GET_MODELNAME#", 32, 0},
    {{0x81, 0x20}, "SET_MODELNAME????????????????#", 33, 0},
    {{0x81, 0xF1}, "REMOTE_ERASE#", 34, 0},
    {{0x81, 0xF2}, kSendFileTemplate, 35, 0},
    {{0x81, 0xF3}, "REMOTE_UPDATE#", 36, 0},
    {{0x81, 0xF4}, "CHECK_REMOTE_UPDATE#", 37, 2},
    {{0x81, 0x25}, "#", 0, 0},
};

namespace {

// Every row must end in '#', carry its table's first id byte and fit the
// working buffer its builder uses.
constexpr bool RowsAreSound(const CommandEntry* rows, int32_t count, uint8_t first_id,
                            int32_t packet_max) {
  for (int32_t i = 0; i < count; ++i) {
    const int32_t bytes = TemplateByteCount(rows[i].text);
    if (bytes < 0 || kPacketHeaderSize + bytes > packet_max || rows[i].id[0] != first_id) {
      return false;
    }
  }
  return true;
}

static_assert(RowsAreSound(BroadcastCommandTable, kBroadcastCommandCount, 0x80,
                           kBroadcastPacketMax));
static_assert(RowsAreSound(UDPCommandTable, kUDPCommandCount + 1, 0x81, kUDPPacketMax));
static_assert(TemplateByteCount(BroadcastCommandTable[broadcast_cmd::kClosing].text) == 0);
static_assert(TemplateByteCount(UDPCommandTable[kUDPCommandCount].text) == 0);

}  // namespace

}  // namespace kova
