#pragma once

namespace kova {

class Engine;

// The broadcast and UDP channel machines, one step per call.
void Broadcast_applay(Engine& e);
void UDP_applay(Engine& e);

}  // namespace kova
