#pragma once

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

}  // namespace kova::cli
