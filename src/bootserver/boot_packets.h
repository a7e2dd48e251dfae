#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kova::boot {

constexpr uint16_t kMagicPort = 9;
constexpr uint16_t kBootpServerPort = 67;
constexpr uint16_t kTftpPort = 69;

constexpr size_t kMagicPacketSize = 30;
constexpr size_t kBootpReplySize = 300;
// A request must reach through the server-name field, the last one tested.
constexpr size_t kBootpMinRequest = 108;
constexpr size_t kTftpBlockSize = 512;
constexpr size_t kDataPacketMax = 4 + kTftpBlockSize;
constexpr size_t kErrorPacketSize = 27;

constexpr uint16_t kTftpRrq = 1;
constexpr uint16_t kTftpData = 3;
constexpr uint16_t kTftpAck = 4;
constexpr uint16_t kTftpError = 5;

// Transfer ports are drawn from 32768 up to 40959.
constexpr uint16_t kTransferPortBase = 32768;
constexpr uint32_t kTransferPortSpan = 8192;

using Ip4 = std::array<uint8_t, 4>;

// Six 0xAA bytes, then the board's MAC four times: what wakes its bootloader.
std::array<uint8_t, kMagicPacketSize> BuildMagicPacket(const uint8_t* mac);

// Whether a datagram on the BOOTP port is the board's request: a BOOTP
// request for Ethernet whose client hardware address is `mac` (any when
// `mac` is null) and whose server name is "stellaris" or "tiva" in any case.
// A datagram too short to hold those fields is not.
bool IsBoardBootpRequest(const uint8_t* data, size_t length, const uint8_t* mac);

// The answer to a request that passed the test: the request's own bytes
// (zero past what was received), turned into a reply that gives the board
// `client` as its address, `server` as the server's and "firmware.bin" as
// the file to read.
std::array<uint8_t, kBootpReplySize> BuildBootpReply(const uint8_t* request, size_t length,
                                                     const Ip4& client, const Ip4& server);

// The opcode of a TFTP packet; 0 for one too short to carry it.
uint16_t TftpOpcode(const uint8_t* data, size_t length);
// Whether a datagram acknowledges `block` (compared in its low 16 bits).
bool IsAckOf(const uint8_t* data, size_t length, uint32_t block);

// The number of image bytes in DATA block `block` (counted from 1): a whole
// block while it fits, then the remainder, which is 0 for an image whose
// length is a multiple of 512.
size_t DataBlockSize(uint32_t block, uint32_t imageLength);
// Writes DATA block `block` into `out` and returns the packet's length.
size_t BuildDataPacket(uint32_t block, const uint8_t* image, uint32_t imageLength,
                       std::array<uint8_t, kDataPacketMax>& out);
// Whether the acknowledgement of `block` ends the transfer: that block was
// the short (possibly empty) last one.
bool IsLastBlock(uint32_t block, uint32_t imageLength);
// The share of the image acknowledged with `block`, in whole percent.
int AckPercent(uint32_t block, uint32_t imageLength);

// The answer to anything but a read request on the TFTP port.
const std::array<uint8_t, kErrorPacketSize>& OnlyRrqError();

// The transfer port for a draw of the random source.
uint16_t TransferPort(uint32_t draw);

}  // namespace kova::boot
