#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace kova::cli {

// One fixture of a station per line: "INTERFACE MAC [DIR]", DIR the
// fixture's folder (its KOVA_Config.cfg and images; empty: -C). Comments
// and blank lines as in a MAC file. False with `error` naming the file and
// line of the first fixture that does not parse. `origins` receives
// "FILE:LINE" for each card added.
bool ParseStationList(const std::string& text, const std::string& name, std::vector<Card>& out,
                      std::vector<std::string>& origins, std::string& error);

// Whether each card of a station needs an IPv4 address of its own: on
// Windows a socket is pinned to its card by the card's address.
bool CardsNeedOwnAddresses();

// The usage error for the first two cards, `names` as given, whose
// `addresses` are the same; empty when every card has one of its own.
std::string SharedAddressProblem(const std::vector<std::string>& names,
                                 const std::vector<std::array<uint8_t, 4>>& addresses);

}  // namespace kova::cli
