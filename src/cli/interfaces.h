#pragma once

#include <string>

#include "common/adapter_table.h"

namespace kova::cli {

// The adapter named by -i, by interface name or by its IPv4 address; -1 if
// none.
int FindInterface(const AdapterTable& table, const std::string& wanted);

// --list-interfaces: index, name, IPv4 and MAC of each adapter.
void ListInterfaces();

}  // namespace kova::cli
