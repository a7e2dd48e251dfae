#include "hostnet/static_arp.h"

// Placeholder until the neighbour table code lands.
namespace kova {
int Create_StaticARP(MessageLog&, const uint8_t*, const uint8_t*) {
  return 0;
}
int Check_StaticARP(MessageLog&, const uint8_t*) {
  return 0;
}
int Delete_StaticARP(MessageLog&, const uint8_t*, const uint8_t*, bool) {
  return 0;
}
}  // namespace kova
