#include "cli/station_file.h"

namespace kova::cli {

// Sockets are tied to their card by its address: two cards with one
// address would take each other's boards' replies and boot requests.
bool CardsNeedOwnAddresses() {
  return true;
}

}  // namespace kova::cli
