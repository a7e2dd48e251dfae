#pragma once

#include <cstdint>

namespace kova {

class MessageLog;
class NeighbourTable;

// The board's permanent entry in the host's neighbour table, on the
// interface that routes to the board. 1 success, 0 failure; failures show
// their message boxes through the log.
//
// A permanent entry for `ip` that is there already is taken as made when it
// names `mac`; one that names another MAC (another board that was given the
// same address) is replaced, with a trace naming the MAC it had. `ifindex`,
// if given, receives the interface the entry is on: the entry is removed
// there, wherever the route has gone since. `error`, if given, receives the
// host's error number of a failure (host_error::kUnreachable when no route
// leads to the board).
int Create_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4],
                     const uint8_t mac[6], int* ifindex = nullptr, int* error = nullptr);
// Whether this process may change the host's neighbour table (Linux: the
// capability cap_net_admin; Windows: an elevated process, Administrator).
// 0 shows what a refused entry would show (the access-denied box, the
// advice, the "ERROR (5)" box), so that an upgrade fails before it touches
// the board instead of leaving it in its bootloader.
int Check_NeighbourPrivilege(MessageLog& log, NeighbourTable& table, const uint8_t ip[4]);
int Check_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4]);
// Removes the entry made on interface `ifindex` (0: on the interface the
// route leads to now). An interface that no longer exists took its entries
// with it, which counts as removed. `showBoxes` false keeps a failure to the
// trace (repeated retries, shutdown). `error` as for Create_StaticARP.
int Delete_StaticARP(MessageLog& log, NeighbourTable& table, int ifindex, const uint8_t ip[4],
                     const uint8_t mac[6], bool showBoxes = true, int* error = nullptr);

}  // namespace kova
