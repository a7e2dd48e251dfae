#include "controller/engine.h"
#include "protocol/channels.h"

namespace kova {

// No sockets yet: the channels have nothing to step.
void Broadcast_applay(Engine&) {}
void UDP_applay(Engine&) {}

int Engine::BroadcastSocket_Close() {
  return 1;
}
int Engine::UDPSocket_Close() {
  return 1;
}
// No neighbour entry is ever installed before the host network layer exists.
int Engine::Delete_StaticARP() {
  return 0;
}

}  // namespace kova
