#include <cstring>

#include "hostnet/static_arp.h"
#include "operation/operation.h"
#include "platform/host_errors.h"

namespace kova {

int Operation::Create_StaticARP() {
  int ifindex = 0;
  int err = 0;
  if (kova::Create_StaticARP(Log, Neighbours, DeviceIP, DeviceMAC, &ifindex, &err) != 1) {
    NoteNeighbourFailure(err);
    return 0;
  }
  // The entry is removed by what it was made for, and where, even if a later
  // operation addresses another board or the route moves before the removal
  // succeeds.
  std::memcpy(Entry.StaticArpIP, DeviceIP, sizeof(Entry.StaticArpIP));
  std::memcpy(Entry.StaticArpMAC, DeviceMAC, sizeof(Entry.StaticArpMAC));
  Entry.StaticArpIfIndex = ifindex;
  Entry.StaticArpAdded = 1;
  uint32_t address = 0;
  std::memcpy(&address, DeviceIP, sizeof(address));
  entryMade_.store((static_cast<uint64_t>(static_cast<uint32_t>(ifindex)) << 32) | address,
                   std::memory_order_release);
  arpDeleteFailing_ = false;
  return 1;
}

bool Operation::MayMakeNeighbourEntry() {
  if (kova::Check_NeighbourPrivilege(Log, Neighbours, DeviceIP) == 1) {
    return true;
  }
  NoteFailure(FailReason::kNeighbourDenied);
  return false;
}

int Operation::SettleEarlierStaticARP() {
  if (Entry.StaticArpAdded != 1) {
    return 1;
  }
  int ifindex = 0;
  if (std::memcmp(Entry.StaticArpIP, DeviceIP, sizeof(Entry.StaticArpIP)) == 0 &&
      std::memcmp(Entry.StaticArpMAC, DeviceMAC, sizeof(Entry.StaticArpMAC)) == 0 &&
      Neighbours.LookupRouteInterface(DeviceIP, ifindex) == 0 &&
      ifindex == Entry.StaticArpIfIndex) {
    return 1;
  }
  // Tried now, whatever the pace of the idle step's retries.
  int err = 0;
  if (kova::Delete_StaticARP(Log, Neighbours, Entry.StaticArpIfIndex, Entry.StaticArpIP,
                             Entry.StaticArpMAC, !arpDeleteFailing_, &err) != 1) {
    NoteNeighbourFailure(err);
    arpDeleteFailing_ = true;
    arpDeleteLastTry_ = std::chrono::steady_clock::now();
    return 0;
  }
  Entry.StaticArpAdded = 0;
  NoteEntryRemoved();
  arpDeleteFailing_ = false;
  return 1;
}

// The idle step calls this on every pass while the entry is installed. A
// removal that keeps failing must neither flood the operator with boxes nor
// hammer the host: the box comes once per failure streak, retries at most
// about once a second.
int Operation::Delete_StaticARP() {
  const auto now = std::chrono::steady_clock::now();
  if (arpDeleteFailing_ && now - arpDeleteLastTry_ < timings_.neighbourRetryPause) {
    return 0;
  }
  arpDeleteLastTry_ = now;
  const int deleted =
      kova::Delete_StaticARP(Log, Neighbours, Entry.StaticArpIfIndex, Entry.StaticArpIP,
                             Entry.StaticArpMAC, !arpDeleteFailing_);
  arpDeleteFailing_ = deleted != 1;
  if (deleted == 1) {
    NoteEntryRemoved();
  }
  return deleted;
}

void Operation::ReleaseEntry() {
  // A failed removal is shown once, unless the idle step has already shown
  // it: the operator should know that an entry stays behind.
  if (Entry.StaticArpAdded == 1 &&
      kova::Delete_StaticARP(Log, Neighbours, Entry.StaticArpIfIndex, Entry.StaticArpIP,
                             Entry.StaticArpMAC, !arpDeleteFailing_) == 1) {
    Entry.StaticArpAdded = 0;
    NoteEntryRemoved();
  }
}

bool Operation::RemoveEntryBeforeExit() {
  const uint64_t made = entryMade_.load(std::memory_order_acquire);
  if (made == 0) {
    return true;
  }
  const int ifindex = static_cast<int>(static_cast<uint32_t>(made >> 32));
  const auto address = static_cast<uint32_t>(made);
  uint8_t ip[4];
  std::memcpy(ip, &address, sizeof(ip));
  // Straight to the table: the log is barred, and its front end may be
  // what the worker is stuck in.
  const int err = Neighbours.DeleteNeighbour(ifindex, ip);
  const bool removed = err == 0 || err == host_error::kNoEntry || err == host_error::kNoInterface;
  if (removed) {
    NoteEntryRemoved();
  }
  return removed;
}

}  // namespace kova
