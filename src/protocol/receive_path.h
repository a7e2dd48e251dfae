#pragma once

#include <cstdint>

namespace kova {

class Link;

constexpr uint8_t kDatagramMarker = 0x25;  // "%": precedes every datagram in a ring

// One pass of the receive thread: waits at most RecvThreadDelay ms for a
// datagram, then takes at most one from each open socket into its ring.
void RecvPass(Link& link);

// Reply decoders, one byte per step, stepped by the channels.
void Boradcast_RecvDecode(Link& link);
void UDP_RecvDecode(Link& link);
void UDP_RecvMsgDecode(Link& link);

// Apply one complete frame to DeviceRecord / UDPReply.
void Broadcast_ReplyHandle(Link& link, const uint8_t* frame, int length);
void UDP_ReplyHandle(Link& link, const uint8_t* frame, int length);

// The text decoder's request channel.
void UDP_RecvMsgStart(Link& link);
bool UDP_RecvMsgIsIdle(const Link& link);
int32_t UDP_RecvMsgResult(const Link& link);
// Disarms the text decoder wherever it is; a line half assembled is dropped.
void UDP_RecvMsgReset(Link& link);

// The UDP ring as the bootloader dialogue reads it.
bool UDP_RxAvailable(const Link& link);
uint8_t UDP_RxPeek(const Link& link);
void UDP_RxSkip(Link& link);

}  // namespace kova
