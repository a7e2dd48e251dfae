#pragma once

#include <cstdint>

namespace kova {

class MessageLog;
class NeighbourTable;

// The board's permanent entry in the host's neighbour table, on the
// interface that routes to the board. 1 success, 0 failure; failures show
// their message boxes through the log.
int Create_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4],
                     const uint8_t mac[6]);
int Check_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4]);
// `showBoxes` false keeps a failure to the trace (repeated retries, shutdown).
int Delete_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4],
                     const uint8_t mac[6], bool showBoxes = true);

}  // namespace kova
