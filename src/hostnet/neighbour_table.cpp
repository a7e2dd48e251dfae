#include "hostnet/neighbour_table.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "hostnet/capabilities.h"
#include "hostnet/route_lookup.h"
#include "platform/host_errors.h"

namespace kova {

namespace {

// How long an address the segment was asked about may take to answer, and
// how often the table is read meanwhile. An address on the segment answers
// in a millisecond or two; the receive thread waits for this at most.
constexpr auto kAnswerWait = std::chrono::milliseconds(300);
constexpr auto kAnswerPoll = std::chrono::milliseconds(10);

// The row, when it has a MAC.
int WithMac(const NeighbourEntry* row, NeighbourEntry& out) {
  if (row == nullptr || !row->hasMac) {
    return host_error::kNoEntry;
  }
  out = *row;
  return 0;
}

// The host's tables through its own calls (each system's file), and the
// rights this process holds.
class HostNeighbourTable : public NeighbourTable {
 public:
  explicit HostNeighbourTable(int card) : card_(card) {}

  int LookupRouteInterface(const uint8_t ip[4], int& ifindex) override {
    if (card_ > 0) {
      ifindex = card_;
      return 0;
    }
    return kova::LookupRouteInterface(ip, ifindex);
  }
  int DumpNeighbours(std::vector<NeighbourEntry>& rows) override {
    return kova::DumpNeighbours(rows);
  }
  int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]) override {
    std::lock_guard<std::mutex> lock(lookAndAsk_);
    return kova::AddPermanentNeighbour(ifindex, ip, mac);
  }
  int DeleteNeighbour(int ifindex, const uint8_t ip[4]) override {
    return kova::DeleteNeighbour(ifindex, ip);
  }
  bool InterfaceExists(int ifindex) override { return InterfaceStillExists(ifindex); }
  bool HoldsCapability(int capability) override { return HasEffectiveCapability(capability); }

  int ResolveNeighbour(int ifindex, const uint8_t ip[4], bool ask, NeighbourEntry& out) override {
    std::vector<NeighbourEntry> rows;
    {
      // The look and the question are one step against this process's own
      // permanent entries: asked about, the board's entry would stop being
      // permanent.
      std::lock_guard<std::mutex> lock(lookAndAsk_);
      const int rc = kova::DumpNeighbours(rows);
      if (rc != 0) {
        return rc;
      }
      const NeighbourEntry* row = FindNeighbour(rows, ifindex, ip);
      if (row != nullptr && (row->hasMac || row->Permanent())) {
        return WithMac(row, out);
      }
      NeighbourEntry answer;
      if (!ask || AskNeighbour(ifindex, ip, answer) != 0) {
        return host_error::kNoEntry;  // what the table holds is all there is
      }
      if (answer.hasMac) {
        out = answer;
        return 0;
      }
    }
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    while (std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kAnswerPoll);
      if (kova::DumpNeighbours(rows) == 0 && WithMac(FindNeighbour(rows, ifindex, ip), out) == 0) {
        return 0;
      }
    }
    return host_error::kNoEntry;
  }

 private:
  const int card_;  // the interface every route leads through; 0: the host's choice
  std::mutex lookAndAsk_;
};

}  // namespace

std::unique_ptr<NeighbourTable> MakeHostNeighbourTable(int card) {
  return std::make_unique<HostNeighbourTable>(card);
}

}  // namespace kova
