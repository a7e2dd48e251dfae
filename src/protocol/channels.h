#pragma once

#include <cstdint>

namespace kova {

class Link;

// The broadcast and UDP channel machines, one step per call; each step ends
// by stepping the channel's reply decoder, and says whether it moved.
bool Broadcast_applay(Link& link);
bool UDP_applay(Link& link);

// Request operations: 1 accepted, 0 refused (channel busy or bad kind).
int Broadcast_Create(Link& link);
int Broadcast_Send(Link& link);
int Broadcast_Close(Link& link);
bool Broadcast_IsIdle(const Link& link);
int32_t Broadcast_Result(const Link& link);

int UDP_Create(Link& link, uint16_t remotePort, uint16_t localPort);
// kind 0 command packet, 1 data packet, 2 string packet
int UDP_Send(Link& link, int kind);
int UDP_Close(Link& link);
bool UDP_IsIdle(const Link& link);
int32_t UDP_Result(const Link& link);

}  // namespace kova
