#pragma once

#include <cstdint>

namespace kova {

class Engine;

constexpr uint8_t kDatagramMarker = 0x25;  // "%": precedes every datagram in a ring

// One pass of the receive thread: waits at most RecvThreadDelay ms for a
// datagram, then takes at most one from each open socket into its ring.
void RecvPass(Engine& e);

// Reply decoders, one byte per step, stepped by the channels.
void Boradcast_RecvDecode(Engine& e);
void UDP_RecvDecode(Engine& e);
void UDP_RecvMsgDecode(Engine& e);

// Apply one complete frame to DeviceRecord / UDPReply.
void Broadcast_ReplyHandle(Engine& e, const uint8_t* frame, int length);
void UDP_ReplyHandle(Engine& e, const uint8_t* frame, int length);

// The text decoder's request channel.
void UDP_RecvMsgStart(Engine& e);
bool UDP_RecvMsgIsIdle(const Engine& e);
int32_t UDP_RecvMsgResult(const Engine& e);

// The UDP ring as the bootloader dialogue reads it.
bool UDP_RxAvailable(const Engine& e);
uint8_t UDP_RxPeek(const Engine& e);
void UDP_RxSkip(Engine& e);

}  // namespace kova
