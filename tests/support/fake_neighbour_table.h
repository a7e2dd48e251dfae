#pragma once

#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/host_errors.h"
#include "platform/neighbour_table.h"

namespace kova::test {

// An in-memory host table: every address routes to `routeIfindex` unless a
// test sets `routeError`; entries are kept as the kernel keeps them.
class FakeNeighbourTable : public NeighbourTable {
 public:
  int LookupRouteInterface(const uint8_t*, int& ifindex) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (routeError != 0) {
      return routeError;
    }
    ifindex = routeIfindex;
    return 0;
  }

  int DumpNeighbours(std::vector<NeighbourEntry>& out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dumpError != 0) {
      return dumpError;
    }
    out = rows;
    return 0;
  }

  int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++adds;
    if (addError != 0) {
      return addError;
    }
    NeighbourEntry* row = Find(ifindex, ip);
    if (row != nullptr && row->Permanent()) {
      return host_error::kExists;
    }
    if (row == nullptr) {
      rows.emplace_back();
      row = &rows.back();
    }
    row->ifindex = ifindex;
    std::memcpy(row->ip.data(), ip, 4);
    std::memcpy(row->mac.data(), mac, 6);
    row->hasMac = true;
    row->permanent = true;
    return 0;
  }

  int DeleteNeighbour(int ifindex, const uint8_t ip[4]) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++deletes;
    if (deleteError != 0) {
      return deleteError;
    }
    if (goneInterfaces.count(ifindex) != 0) {
      return host_error::kNoInterface;
    }
    for (auto it = rows.begin(); it != rows.end(); ++it) {
      if (it->ifindex == ifindex && std::memcmp(it->ip.data(), ip, 4) == 0) {
        rows.erase(it);
        return 0;
      }
    }
    return host_error::kNoEntry;
  }

  bool InterfaceExists(int ifindex) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return goneInterfaces.count(ifindex) == 0;
  }

  // A row with a MAC answers; else, when asked, an address of `segment`
  // answers as a host on the link would and is kept as a learnt row.
  int ResolveNeighbour(int ifindex, const uint8_t ip[4], bool ask, NeighbourEntry& out) override {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++lookups;
      NeighbourEntry* row = Find(ifindex, ip);
      if (row != nullptr && row->hasMac) {
        out = *row;
        return 0;
      }
      if (!ask || (row != nullptr && row->Permanent())) {
        return host_error::kNoEntry;
      }
      ++asks;
      hook = onAsk;
    }
    // Outside the lock, as the host's wait for the answer is.
    if (hook) {
      hook();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::array<uint8_t, 4> address;
    std::memcpy(address.data(), ip, 4);
    auto answer = segment.find(address);
    if (answer == segment.end()) {
      return host_error::kNoEntry;
    }
    NeighbourEntry learnt;
    learnt.ifindex = ifindex;
    learnt.ip = address;
    learnt.mac = answer->second;
    learnt.hasMac = true;
    rows.push_back(learnt);
    out = learnt;
    return 0;
  }

  bool HoldsCapability(int capability) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return missingCapabilities.count(capability) == 0;
  }

  // The route to every address now leaves by `ifindex`.
  void MoveRoute(int ifindex) {
    std::lock_guard<std::mutex> lock(mutex_);
    routeIfindex = ifindex;
  }

  // Unplugs an interface: its entries go with it.
  void RemoveInterface(int ifindex) {
    std::lock_guard<std::mutex> lock(mutex_);
    goneInterfaces.insert(ifindex);
    for (auto it = rows.begin(); it != rows.end();) {
      it = (it->ifindex == ifindex) ? rows.erase(it) : it + 1;
    }
  }

  // A row as the kernel would hold it, e.g. one learnt or left by another run.
  void Put(int ifindex, std::array<uint8_t, 4> ip, std::array<uint8_t, 6> mac, bool permanent) {
    std::lock_guard<std::mutex> lock(mutex_);
    NeighbourEntry row;
    row.ifindex = ifindex;
    row.ip = ip;
    row.mac = mac;
    row.hasMac = true;
    row.permanent = permanent;
    rows.push_back(row);
  }

  size_t RowCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows.size();
  }

  int routeIfindex = 2;
  int routeError = 0;
  int dumpError = 0;
  int addError = 0;
  int deleteError = 0;
  int adds = 0;
  int deletes = 0;
  std::vector<NeighbourEntry> rows;
  std::set<int> goneInterfaces;
  std::set<int> missingCapabilities;  // CAP_* numbers the process is taken to lack
  // Who answers on the link when asked: address -> MAC.
  std::map<std::array<uint8_t, 4>, std::array<uint8_t, 6>> segment;
  int lookups = 0;              // ResolveNeighbour calls
  int asks = 0;                 // of them, the ones that asked the segment
  std::function<void()> onAsk;  // runs while the segment is asked

 private:
  NeighbourEntry* Find(int ifindex, const uint8_t ip[4]) {
    for (NeighbourEntry& row : rows) {
      if (row.ifindex == ifindex && std::memcmp(row.ip.data(), ip, 4) == 0) {
        return &row;
      }
    }
    return nullptr;
  }

  std::mutex mutex_;
};

}  // namespace kova::test
