#include "hostnet/neighbour_table.h"

#include "hostnet/capabilities.h"
#include "hostnet/route_lookup.h"

namespace kova {

namespace {

// The host's tables through its own calls (each system's file), and the
// rights this process holds.
class HostNeighbourTable : public NeighbourTable {
 public:
  int LookupRouteInterface(const uint8_t ip[4], int& ifindex) override {
    return kova::LookupRouteInterface(ip, ifindex);
  }
  int DumpNeighbours(std::vector<NeighbourEntry>& rows) override {
    return kova::DumpNeighbours(rows);
  }
  int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]) override {
    return kova::AddPermanentNeighbour(ifindex, ip, mac);
  }
  int DeleteNeighbour(int ifindex, const uint8_t ip[4]) override {
    return kova::DeleteNeighbour(ifindex, ip);
  }
  bool InterfaceExists(int ifindex) override { return InterfaceStillExists(ifindex); }
  bool HoldsCapability(int capability) override { return HasEffectiveCapability(capability); }
};

}  // namespace

std::unique_ptr<NeighbourTable> MakeHostNeighbourTable() {
  return std::make_unique<HostNeighbourTable>();
}

}  // namespace kova
