#include "controller/engine.h"
#include "protocol/channels.h"

// Placeholder until the channels land.
namespace kova {
void Broadcast_applay(Engine&) {}
void UDP_applay(Engine&) {}
int Broadcast_Create(Engine&) {
  return 0;
}
int Broadcast_Send(Engine&) {
  return 0;
}
int Broadcast_Close(Engine&) {
  return 0;
}
bool Broadcast_IsIdle(const Engine& e) {
  return e.BroadcastState == 0;
}
int32_t Broadcast_Result(const Engine& e) {
  return e.BroadcastDone;
}
int UDP_Create(Engine&, uint16_t, uint16_t) {
  return 0;
}
int UDP_Send(Engine&, int) {
  return 0;
}
int UDP_Close(Engine&) {
  return 0;
}
bool UDP_IsIdle(const Engine& e) {
  return e.UDPState == 0;
}
int32_t UDP_Result(const Engine& e) {
  return e.UDPDone.load();
}
}  // namespace kova
