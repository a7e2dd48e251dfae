#pragma once

#include <wx/choice.h>

#include "hostnet/adapter_list.h"

namespace kova {

// Lists the adapters of `table` in the interface choice, in table order, and
// selects the first, whose text becomes the tooltip. An empty table leaves
// the choice empty with the tooltip "No Ethernet card".
void FillInterfaceChoice(wxChoice& choice, const AdapterTable& table);

}  // namespace kova
