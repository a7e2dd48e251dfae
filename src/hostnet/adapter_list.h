#pragma once

#include "common/adapter_table.h"

namespace kova {

// Fills the table from the kernel's interface list: every interface but
// loopback, in interface index order, with its name, its first IPv4 address
// (0.0.0.0 when it has none) and its hardware address. Returns the count.
int Load_AdapterList(AdapterTable& table);

}  // namespace kova
