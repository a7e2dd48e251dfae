#pragma once

#include <cstdint>

namespace kova {

class Engine;

// The broadcast and UDP channel machines, one step per call; each step ends
// by stepping the channel's reply decoder.
void Broadcast_applay(Engine& e);
void UDP_applay(Engine& e);

// Request operations: 1 accepted, 0 refused (channel busy or bad kind).
int Broadcast_Create(Engine& e);
int Broadcast_Send(Engine& e);
int Broadcast_Close(Engine& e);
bool Broadcast_IsIdle(const Engine& e);
int32_t Broadcast_Result(const Engine& e);

int UDP_Create(Engine& e, uint16_t remotePort, uint16_t localPort);
// kind 0 command packet, 1 data packet, 2 string packet
int UDP_Send(Engine& e, int kind);
int UDP_Close(Engine& e);
bool UDP_IsIdle(const Engine& e);
int32_t UDP_Result(const Engine& e);

}  // namespace kova
