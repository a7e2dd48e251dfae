#include <algorithm>

#include "protocol/link.h"
#include "protocol/receive_path.h"
#include "protocol/reply_records.h"

namespace kova {

namespace {

constexpr uint8_t kBroadcastReply = 0x80;
constexpr uint8_t kUDPReply = 0x81;
constexpr uint8_t kAck = 0x06;
constexpr int kPayload = 4;  // first payload byte of a frame

// Broadcast reply codes: the second id byte of the request answered.
enum : uint8_t {
  kEthReqReply = 0x00,
  kFwVerReqReply = 0x01,
  kSetDhcpModeReply = 0x02,
  kSetIpAdrReply = 0x03,
  kResetReply = 0x04,
  kBootloaderReply = 0x05,
  kE2pDefaultReply = 0x06,
  kE2pReadReply = 0x07,
};

// UDP reply codes.
enum : uint8_t {
  kGetE2p256Reply = 0x1D,
  kGetModelNameReply = 0x1F,
  kSetModelNameReply = 0x20,
  kRemoteEraseReply = 0xF1,
  kSendFileReply = 0xF2,
  kRemoteUpdateReply = 0xF3,
  kCheckRemoteUpdateReply = 0xF4,
};

constexpr int kE2pReadMax = SharedBuffers::kDeviceRecordSize - device_record::kE2pData;

constexpr int kModelNameFrameLength = 20;
constexpr int kE2p256FrameLength = 260;

// An acknowledgement row reads the first payload byte, so the frame must
// carry one; a stale byte of an earlier frame is never taken for an answer.
bool Acknowledges(const uint8_t* frame, int length) {
  return length > kPayload && frame[kPayload] == kAck;
}

}  // namespace

void Broadcast_ReplyHandle(Link& link, const uint8_t* frame, int length) {
  if (length < kPayload || frame[2] != kBroadcastReply || frame[3] > kE2pReadReply) {
    return;
  }
  SharedBuffers& b = link.Buf;
  switch (frame[3]) {
    case kEthReqReply:
      if (length >= address_answer::kMinLength &&
          std::equal(link.DeviceMAC, link.DeviceMAC + 6, frame + address_answer::kMacAt)) {
        for (int i = 0; i < 4; ++i) {
          b.DeviceRecord_Set(i, frame[address_answer::kAddressAt + i]);
        }
        link.EthReqAnswered = 1;
      }
      break;
    case kFwVerReqReply:
      if (length == 6) {
        b.DeviceRecord_Set(device_record::kVersion, frame[kPayload]);
        b.DeviceRecord_Set(device_record::kVersion + 1, frame[kPayload + 1]);
        b.DeviceRecord_Set(device_record::kVersionFlag, 1);
      }
      break;
    case kSetDhcpModeReply:
    case kSetIpAdrReply:
    case kResetReply:
    case kBootloaderReply:
    case kE2pDefaultReply:
      if (Acknowledges(frame, length)) {
        b.DeviceRecord_Set(device_record::kAckFlags + frame[3], 1);
      }
      break;
    case kE2pReadReply:
      // The record holds 241 bytes from index 15; a longer payload is cut.
      if (length > kPayload) {
        const int n = std::min(length - kPayload, kE2pReadMax);
        for (int i = 0; i < n; ++i) {
          b.DeviceRecord_Set(device_record::kE2pData + i, frame[kPayload + i]);
        }
        link.E2pReadAnswered = 1;
      }
      break;
    default:
      break;
  }
}

void UDP_ReplyHandle(Link& link, const uint8_t* frame, int length) {
  if (length < kPayload || frame[2] != kUDPReply) {
    return;
  }
  SharedBuffers& b = link.Buf;
  switch (frame[3]) {
    case kSetModelNameReply:
      if (length == 5 && frame[kPayload] == kAck) {
        b.UDPReply_Set(udp_reply::kSetModelNameFlag, 1);
      }
      break;
    case kGetModelNameReply:
      if (length == kModelNameFrameLength) {
        for (int i = 0; i < kModelNameFrameLength - kPayload; ++i) {
          b.UDPReply_Set(udp_reply::kModelName + i, frame[kPayload + i]);
        }
        b.UDPReply_Set(udp_reply::kModelNameFlag, 1);
      }
      break;
    case kGetE2p256Reply:
      if (length == kE2p256FrameLength) {
        for (int i = 0; i < kE2p256FrameLength - kPayload; ++i) {
          b.UDPReply_Set(udp_reply::kEeprom + i, frame[kPayload + i]);
        }
        b.UDPReply_Set(udp_reply::kEepromFlag, 1);
      }
      break;
    case kRemoteEraseReply:
    case kSendFileReply:
    case kRemoteUpdateReply:
    case kCheckRemoteUpdateReply:
      if (Acknowledges(frame, length)) {
        b.UDPReply_Set(udp_reply::kRemoteAck, 1);
      }
      break;
    default:
      break;
  }
}

}  // namespace kova
