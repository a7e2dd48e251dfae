#include "bootserver/boot_packets.h"

#include <algorithm>
#include <cstring>

namespace kova::boot {

namespace {

constexpr size_t kOp = 0;
constexpr size_t kHtype = 1;
constexpr size_t kHlen = 2;
constexpr size_t kYiaddr = 16;
constexpr size_t kSiaddr = 20;
constexpr size_t kChaddr = 28;
constexpr size_t kSname = 44;
constexpr size_t kSnameSize = 64;
constexpr size_t kFile = 108;

constexpr char kBootFile[] = "firmware.bin";

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The field as a zero-terminated text compared without case; a field with
// no zero in it holds no text that could match.
bool SnameIs(const uint8_t* field, const char* name) {
  const size_t length = strnlen(name, kSnameSize);
  if (length >= kSnameSize || field[length] != 0) {
    return false;
  }
  for (size_t i = 0; i < length; ++i) {
    if (Lower(static_cast<char>(field[i])) != name[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::array<uint8_t, kMagicPacketSize> BuildMagicPacket(const uint8_t* mac) {
  std::array<uint8_t, kMagicPacketSize> packet{};
  std::fill_n(packet.begin(), 6, 0xAA);
  for (size_t copy = 0; copy < 4; ++copy) {
    std::memcpy(packet.data() + 6 + copy * 6, mac, 6);
  }
  return packet;
}

bool IsBoardBootpRequest(const uint8_t* data, size_t length, const uint8_t* mac) {
  if (length < kBootpMinRequest) {
    return false;
  }
  if (data[kOp] != 1 || data[kHtype] != 1 || data[kHlen] != 6) {
    return false;
  }
  if (mac != nullptr && std::memcmp(data + kChaddr, mac, 6) != 0) {
    return false;
  }
  return SnameIs(data + kSname, "stellaris") || SnameIs(data + kSname, "tiva");
}

std::array<uint8_t, kBootpReplySize> BuildBootpReply(const uint8_t* request, size_t length,
                                                     const Ip4& client, const Ip4& server) {
  std::array<uint8_t, kBootpReplySize> reply{};
  std::memcpy(reply.data(), request, std::min(length, kBootpReplySize));
  reply[kOp] = 2;
  std::memcpy(reply.data() + kYiaddr, client.data(), 4);
  std::memcpy(reply.data() + kSiaddr, server.data(), 4);
  std::memcpy(reply.data() + kFile, kBootFile, sizeof(kBootFile));
  return reply;
}

uint16_t TftpOpcode(const uint8_t* data, size_t length) {
  if (length < 2) {
    return 0;
  }
  return static_cast<uint16_t>((data[0] << 8) | data[1]);
}

bool IsAckOf(const uint8_t* data, size_t length, uint32_t block) {
  if (length < 4 || TftpOpcode(data, length) != kTftpAck) {
    return false;
  }
  const uint16_t acked = static_cast<uint16_t>((data[2] << 8) | data[3]);
  return acked == static_cast<uint16_t>(block);
}

size_t DataBlockSize(uint32_t block, uint32_t imageLength) {
  if (uint64_t{block} * kTftpBlockSize <= imageLength) {
    return kTftpBlockSize;
  }
  return imageLength % kTftpBlockSize;
}

size_t BuildDataPacket(uint32_t block, const uint8_t* image, uint32_t imageLength,
                       std::array<uint8_t, kDataPacketMax>& out) {
  const size_t size = DataBlockSize(block, imageLength);
  out[0] = 0;
  out[1] = kTftpData;
  out[2] = static_cast<uint8_t>(block >> 8);
  out[3] = static_cast<uint8_t>(block);
  if (size > 0) {
    std::memcpy(out.data() + 4, image + uint64_t{block - 1} * kTftpBlockSize, size);
  }
  return 4 + size;
}

bool IsLastBlock(uint32_t block, uint32_t imageLength) {
  return imageLength < uint64_t{block} * kTftpBlockSize;
}

int AckPercent(uint32_t block, uint32_t imageLength) {
  if (imageLength == 0) {
    return 100;
  }
  // 64 bits, so that an image past 42 MB does not wrap the product.
  return static_cast<int>(uint64_t{block} * kTftpBlockSize * 100 / imageLength);
}

const std::array<uint8_t, kErrorPacketSize>& OnlyRrqError() {
  static const std::array<uint8_t, kErrorPacketSize> packet = [] {
    static constexpr char kText[] = "Only RRQ is supported!";
    std::array<uint8_t, kErrorPacketSize> p{};
    p[1] = kTftpError;
    p[3] = 4;  // illegal operation
    std::memcpy(p.data() + 4, kText, sizeof(kText));
    return p;
  }();
  return packet;
}

uint16_t TransferPort(uint32_t draw) {
  return static_cast<uint16_t>(kTransferPortBase + draw % kTransferPortSpan);
}

}  // namespace kova::boot
