#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace kova {

// One IPv4 row of the host's neighbour table.
struct NeighbourEntry {
  int ifindex = 0;
  std::array<uint8_t, 4> ip{};  // first octet first
  std::array<uint8_t, 6> mac{};
  bool hasMac = false;
  // Entered by hand and never aged (static): the kind the tool installs.
  bool permanent = false;

  bool Permanent() const { return permanent; }
};

// The row for `ip` on interface `ifindex`, or null.
const NeighbourEntry* FindNeighbour(const std::vector<NeighbourEntry>& rows, int ifindex,
                                    const uint8_t ip[4]);

// The host's routing and neighbour tables, as the static entry of an upgrade
// uses them. Tests replace it with an in-memory table. Every result is 0 or
// the host's positive error number (platform/host_errors.h names those the
// engine tells apart).
class NeighbourTable {
 public:
  virtual ~NeighbourTable() = default;

  // The output interface the host would choose now for packets to `ip`;
  // kUnreachable when no unicast route leads there.
  virtual int LookupRouteInterface(const uint8_t ip[4], int& ifindex) = 0;
  // Reads the IPv4 rows of the table.
  virtual int DumpNeighbours(std::vector<NeighbourEntry>& rows) = 0;
  // Binds `ip` to `mac` on the interface with a permanent entry. kExists only
  // when a permanent entry for `ip` is there already, which is left as it
  // is; an entry that the host learnt itself is replaced.
  virtual int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]) = 0;
  // Removes the entry for `ip` on the interface, whatever its kind; kNoEntry
  // when there is none, kNoInterface when the interface is gone.
  virtual int DeleteNeighbour(int ifindex, const uint8_t ip[4]) = 0;
  // Whether the host still has an interface with this index. The entries of
  // an interface that went away (an adapter unplugged) went with it.
  virtual bool InterfaceExists(int ifindex) = 0;
  // The row the host would send to `ip` on the interface by: the table's,
  // or, when the table has none with a MAC and `ask` is set, the one made
  // when the host asks the segment, as it does before a send (a bounded
  // wait; without the right to change the table it only reads). A
  // permanent entry is never asked about. 0 with `row` holding a MAC;
  // kNoEntry when the address has none; else the host's error.
  virtual int ResolveNeighbour(int ifindex, const uint8_t ip[4], bool ask, NeighbourEntry& row) = 0;
  // Whether this process holds `capability` (a CAP_* number), without which
  // the host refuses changes to its tables and ports below 1024. An
  // in-memory table holds every one.
  virtual bool HoldsCapability(int /*capability*/) { return true; }
};

}  // namespace kova
