#include "controller/engine.h"

// Placeholder until the socket code lands.
namespace kova {
int Engine::BroadcastSocket_Create() {
  return 0;
}
int Engine::UDPSocket_Create(uint16_t, uint16_t) {
  return 0;
}
int Engine::BroadcastSocket_Send(const uint8_t*, int) {
  return 0;
}
int Engine::UDPSocket_Send(const uint8_t*, int) {
  return 0;
}
int Engine::UDPSocket_SendString(const std::string&) {
  return 0;
}
bool Engine::BroadcastSocket_Close() {
  return true;
}
bool Engine::UDPSocket_Close() {
  return true;
}
}  // namespace kova
