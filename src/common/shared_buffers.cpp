#include "common/shared_buffers.h"

#include <cstring>

namespace kova {

namespace {

std::unique_ptr<uint8_t[]> Raw(int32_t size) {
  return std::make_unique<uint8_t[]>(size);
}

}  // namespace

void SharedBuffers::AllocSharedBuffers() {
  // make_unique value-initialises, so every buffer starts zeroed; the images
  // are filled with erased-flash bytes by each load anyway.
  ConfigText = Raw(kConfigTextSize);
  ConfigTextLen = 0;
  AppImage = Raw(kAppImageSize);
  AppImageLen = 0;
  UpBlImage = Raw(kUpBlImageSize);
  UpBlImageLen = 0;
  BlImage = Raw(kBlImageSize);
  BlImageLen = 0;
  BroadcastRxBuffer = Raw(kRxBufferSize);
  UDPRxBuffer = Raw(kRxBufferSize);
  BroadcastPacket = Raw(kPacketSize);
  UDPPacket = Raw(kPacketSize);
  UDPPacketLen = 0;
  BroadcastPacketLen = 0;
  UDPCmdIndex = 0;
  BroadcastCmdIndex = 0;
  BroadcastRxRing = Raw(kRingSize);
  UDPRxRing = Raw(kRingSize);
  BroadcastRxWrite = 0;
  BroadcastRxRead = 0;
  UDPRxWrite = 0;
  UDPRxRead = 0;
  // Every datagram takes at least its marker, so a ring never holds more
  // datagrams than it has bytes.
  BroadcastRxLengths = std::make_unique<uint16_t[]>(kRingSize);
  UDPRxLengths = std::make_unique<uint16_t[]>(kRingSize);
  BroadcastRxLengthWrite = BroadcastRxLengthRead = 0;
  UDPRxLengthWrite = UDPRxLengthRead = 0;
  BroadcastRxLeft = UDPRxLeft = 0;
  BroadcastFrame = Raw(kFrameSize);
  UDPFrame = Raw(kFrameSize);
  BroadcastFrameExpected = BroadcastFrameCount = 0;
  UDPFrameExpected = UDPFrameCount = 0;
  UUText = Raw(kUUTextSize);
  UUTextLen = 0;
  DeviceRecord = Raw(kDeviceRecordSize);
  UDPReply = Raw(kUDPReplySize);
  UDPMessage = Raw(kUDPMessageSize);
  UDPMessageLen = 0;
}

int SharedBuffers::DeviceRecord_Set(int index, uint8_t value) {
  if (index < 0 || index >= kDeviceRecordSize) {
    return 0;
  }
  DeviceRecord[index] = value;
  return 1;
}

uint8_t SharedBuffers::DeviceRecord_Get(int index) const {
  return (index < 0 || index >= kDeviceRecordSize) ? 0xFF : DeviceRecord[index];
}

int SharedBuffers::UDPReply_Set(int index, uint8_t value) {
  if (index < 0 || index >= kUDPReplySize) {
    return 0;
  }
  UDPReply[index] = value;
  return 1;
}

uint8_t SharedBuffers::UDPReply_Get(int index) const {
  return (index < 0 || index >= kUDPReplySize) ? 0xFF : UDPReply[index];
}

}  // namespace kova
