#include <cstring>

#include "controller/engine.h"
#include "hostnet/static_arp.h"

namespace kova {

// The idle step calls this on every pass while the entry is installed. A
// removal that keeps failing must neither flood the operator with boxes nor
// hammer the kernel: the box comes once per failure streak, retries at most
// about once a second.
int Engine::Create_StaticARP() {
  if (kova::Create_StaticARP(Log, *Neighbours, DeviceIP, DeviceMAC) != 1) {
    return 0;
  }
  // The entry is removed by what it was made for, even if a later operation
  // addresses another board before the removal succeeds.
  std::memcpy(StaticArpIP, DeviceIP, sizeof(StaticArpIP));
  std::memcpy(StaticArpMAC, DeviceMAC, sizeof(StaticArpMAC));
  StaticArpAdded = 1;
  arpDeleteFailing_ = false;
  return 1;
}

int Engine::Delete_StaticARP() {
  const auto now = std::chrono::steady_clock::now();
  if (arpDeleteFailing_ && now - arpDeleteLastTry_ < timings_.neighbourRetryPause) {
    return 0;
  }
  arpDeleteLastTry_ = now;
  const int deleted =
      kova::Delete_StaticARP(Log, *Neighbours, StaticArpIP, StaticArpMAC, !arpDeleteFailing_);
  arpDeleteFailing_ = deleted != 1;
  return deleted;
}

}  // namespace kova
