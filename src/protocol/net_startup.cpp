#include "controller/engine.h"

namespace kova {

// Linux sockets need no start-up call: the flag records that the worker has
// started the network layer, and shutdown clears it.
void Engine::Net_Startup() {
  if (NetStarted == 1) {
    return;
  }
  NetStarted = 1;
}

void Engine::Net_Cleanup() {
  if (NetStarted != 1) {
    return;
  }
  NetStarted = 0;
  Log.Say(0, "\nWSACleanup ... successful !");
}

}  // namespace kova
