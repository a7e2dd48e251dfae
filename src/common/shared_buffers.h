#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace kova {

// Every large buffer of the engine, allocated once when the engine starts and
// reused by every operation. Capacities are fixed; nothing grows.
struct SharedBuffers {
  static constexpr int32_t kConfigTextSize = 1048576;
  static constexpr int32_t kAppImageSize = 1572864;
  static constexpr int32_t kUpBlImageSize = 1048576;
  static constexpr int32_t kBlImageSize = 8192;
  static constexpr int32_t kRxBufferSize = 1024;
  static constexpr int32_t kPacketSize = 8192;
  static constexpr int32_t kRingSize = 8192;
  static constexpr uint16_t kRingMask = 0x1FFF;
  static constexpr int32_t kFrameSize = 1024;
  static constexpr int32_t kUUTextSize = 1024;
  static constexpr int32_t kDeviceRecordSize = 256;
  static constexpr int32_t kUDPReplySize = 1024;
  static constexpr int32_t kUDPMessageSize = 1024;

  std::unique_ptr<uint8_t[]> ConfigText;
  int32_t ConfigTextLen = 0;
  std::unique_ptr<uint8_t[]> AppImage;
  int32_t AppImageLen = 0;
  std::unique_ptr<uint8_t[]> UpBlImage;
  int32_t UpBlImageLen = 0;
  std::unique_ptr<uint8_t[]> BlImage;
  int32_t BlImageLen = 0;

  std::unique_ptr<uint8_t[]> BroadcastRxBuffer;
  std::unique_ptr<uint8_t[]> UDPRxBuffer;
  std::unique_ptr<uint8_t[]> BroadcastPacket;
  int32_t BroadcastPacketLen = 0;
  std::unique_ptr<uint8_t[]> UDPPacket;
  int32_t UDPPacketLen = 0;
  int32_t BroadcastCmdIndex = 0;
  int32_t UDPCmdIndex = 0;

  // Receive rings: the receive thread writes and moves the write index, the
  // worker reads and moves the read index. Beside each ring, the length of
  // every datagram in it, in the same order: the marker byte is also
  // ordinary data, so it cannot tell where a datagram ends. The worker
  // counts what is left of the datagram it reads (RxLeft).
  std::unique_ptr<uint8_t[]> BroadcastRxRing;
  std::atomic<uint16_t> BroadcastRxWrite{0};
  std::atomic<uint16_t> BroadcastRxRead{0};
  std::unique_ptr<uint16_t[]> BroadcastRxLengths;
  std::atomic<uint16_t> BroadcastRxLengthWrite{0};
  std::atomic<uint16_t> BroadcastRxLengthRead{0};
  int32_t BroadcastRxLeft = 0;
  std::unique_ptr<uint8_t[]> UDPRxRing;
  std::atomic<uint16_t> UDPRxWrite{0};
  std::atomic<uint16_t> UDPRxRead{0};
  std::unique_ptr<uint16_t[]> UDPRxLengths;
  std::atomic<uint16_t> UDPRxLengthWrite{0};
  std::atomic<uint16_t> UDPRxLengthRead{0};
  int32_t UDPRxLeft = 0;

  std::unique_ptr<uint8_t[]> BroadcastFrame;
  int32_t BroadcastFrameExpected = 0;
  int32_t BroadcastFrameCount = 0;
  std::unique_ptr<uint8_t[]> UDPFrame;
  int32_t UDPFrameExpected = 0;
  int32_t UDPFrameCount = 0;

  std::unique_ptr<uint8_t[]> UUText;
  int32_t UUTextLen = 0;
  std::unique_ptr<uint8_t[]> DeviceRecord;
  std::unique_ptr<uint8_t[]> UDPReply;
  std::unique_ptr<uint8_t[]> UDPMessage;
  int32_t UDPMessageLen = 0;

  // Allocates every buffer; the records and UDPMessage start zero-filled.
  void AllocSharedBuffers();

  // Index accessors of the reply records: a write out of range is refused
  // (result 0), a read out of range gives 0xFF.
  int DeviceRecord_Set(int index, uint8_t value);
  uint8_t DeviceRecord_Get(int index) const;
  int UDPReply_Set(int index, uint8_t value);
  uint8_t UDPReply_Get(int index) const;
};

}  // namespace kova
