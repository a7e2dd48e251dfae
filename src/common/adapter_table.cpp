#include "common/adapter_table.h"

namespace kova {

void AdapterTable::Clear() {
  for (auto& desc : AdapterDesc) {
    desc.clear();
  }
  for (auto& ip : AdapterIP) {
    ip.fill(0);
  }
  for (auto& mac : AdapterMAC) {
    mac.fill(0);
  }
  Count = 0;
}

}  // namespace kova
