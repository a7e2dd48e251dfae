#include "controller/engine.h"
#include "protocol/receive_path.h"

// Placeholder until the receive path lands.
namespace kova {
void RecvPass(Engine& e) {
  e.Net->Wait(nullptr, 0, e.RecvThreadDelay.load());
}
}  // namespace kova
