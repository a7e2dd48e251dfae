#include "cli/station_file.h"

namespace kova::cli {

// Sockets are tied to their card by its name: cloned fixtures may share
// one address.
bool CardsNeedOwnAddresses() {
  return false;
}

}  // namespace kova::cli
