#include <cstring>

#include "controller/engine.h"
#include "hostnet/static_arp.h"

namespace kova {

// The idle step calls this on every pass while the entry is installed. A
// removal that keeps failing must neither flood the operator with boxes nor
// hammer the kernel: the box comes once per failure streak, retries at most
// about once a second.
int Engine::Create_StaticARP() {
  int ifindex = 0;
  int err = 0;
  if (kova::Create_StaticARP(Log, *Neighbours, DeviceIP, DeviceMAC, &ifindex, &err) != 1) {
    NoteNeighbourFailure(err);
    return 0;
  }
  // The entry is removed by what it was made for, and where, even if a later
  // operation addresses another board or the route moves before the removal
  // succeeds.
  std::memcpy(StaticArpIP, DeviceIP, sizeof(StaticArpIP));
  std::memcpy(StaticArpMAC, DeviceMAC, sizeof(StaticArpMAC));
  StaticArpIfIndex = ifindex;
  StaticArpAdded = 1;
  arpDeleteFailing_ = false;
  return 1;
}

bool Engine::MayMakeNeighbourEntry() {
  if (kova::Check_NeighbourPrivilege(Log, *Neighbours, DeviceIP) == 1) {
    return true;
  }
  NoteFailure(FailReason::kNeighbourDenied);
  return false;
}

int Engine::SettleEarlierStaticARP() {
  if (StaticArpAdded != 1) {
    return 1;
  }
  int ifindex = 0;
  if (std::memcmp(StaticArpIP, DeviceIP, sizeof(StaticArpIP)) == 0 &&
      std::memcmp(StaticArpMAC, DeviceMAC, sizeof(StaticArpMAC)) == 0 &&
      Neighbours->LookupRouteInterface(DeviceIP, ifindex) == 0 && ifindex == StaticArpIfIndex) {
    return 1;
  }
  // Tried now, whatever the pace of the idle step's retries.
  int err = 0;
  if (kova::Delete_StaticARP(Log, *Neighbours, StaticArpIfIndex, StaticArpIP, StaticArpMAC,
                             !arpDeleteFailing_, &err) != 1) {
    NoteNeighbourFailure(err);
    arpDeleteFailing_ = true;
    arpDeleteLastTry_ = std::chrono::steady_clock::now();
    return 0;
  }
  StaticArpAdded = 0;
  arpDeleteFailing_ = false;
  return 1;
}

int Engine::Delete_StaticARP() {
  const auto now = std::chrono::steady_clock::now();
  if (arpDeleteFailing_ && now - arpDeleteLastTry_ < timings_.neighbourRetryPause) {
    return 0;
  }
  arpDeleteLastTry_ = now;
  const int deleted = kova::Delete_StaticARP(Log, *Neighbours, StaticArpIfIndex, StaticArpIP,
                                             StaticArpMAC, !arpDeleteFailing_);
  arpDeleteFailing_ = deleted != 1;
  return deleted;
}

}  // namespace kova
