#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/neighbour_table.h"

namespace kova {

// The host's neighbour table (routing netlink on Linux, IP Helper on
// Windows). Every result below is 0 or the host's positive error number,
// with the meanings of platform/host_errors.h: ENOENT and EEXIST below are
// host_error::kNoEntry and kExists.

// Reads the IPv4 rows of the table.
int DumpNeighbours(std::vector<NeighbourEntry>& rows);

// Binds `ip` to `mac` on the interface with a permanent entry. EEXIST only
// when a permanent entry for `ip` is there already, which is left as it is;
// an entry that the kernel learnt itself is replaced.
int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]);

// Removes the entry for `ip` on the interface, whatever its kind; ENOENT when
// there is none, ENODEV when the interface is gone.
int DeleteNeighbour(int ifindex, const uint8_t ip[4]);

// Whether the host still has an interface with this index (an adapter
// unplugged took its entries with it).
bool InterfaceStillExists(int ifindex);

// Has the host ask the segment who has `ip` on the interface, as it does
// before it sends there. Linux only starts the question (the answer lands in
// the table); Windows waits for it and puts it in `answer`. 0 when asked.
// Never for an address with a permanent entry: Linux makes it an ordinary
// one.
int AskNeighbour(int ifindex, const uint8_t ip[4], NeighbourEntry& answer);

// The host's own tables behind the engine's neighbour-table interface. With
// `card` above 0 (an interface index), every address is taken to be reached
// through that interface, whatever the routing table says: the board of one
// card of a station, with the address every other card's board has too.
// The board's entry is then made and removed there, and the receive path
// looks for its answers' senders there.
std::unique_ptr<NeighbourTable> MakeHostNeighbourTable(int card = 0);

}  // namespace kova
