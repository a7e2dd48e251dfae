#include "controller/engine.h"
#include "protocol/receive_path.h"

// Placeholder until the decoders land.
namespace kova {
void Boradcast_RecvDecode(Engine&) {}
void UDP_RecvDecode(Engine&) {}
void UDP_RecvMsgDecode(Engine&) {}
void Broadcast_ReplyHandle(Engine&, const uint8_t*, int) {}
void UDP_ReplyHandle(Engine&, const uint8_t*, int) {}
void UDP_RecvMsgStart(Engine&) {}
bool UDP_RecvMsgIsIdle(const Engine&) {
  return true;
}
int32_t UDP_RecvMsgResult(const Engine&) {
  return 0;
}
bool UDP_RxAvailable(const Engine&) {
  return false;
}
uint8_t UDP_RxPeek(const Engine&) {
  return 0;
}
void UDP_RxSkip(Engine&) {}
}  // namespace kova
