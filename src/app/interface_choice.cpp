#include "app/interface_choice.h"

#include <algorithm>

namespace kova {

void FillInterfaceChoice(wxChoice& choice, const AdapterTable& table) {
  choice.Clear();
  const int count = std::min<int>(table.Count, AdapterTable::kMaxAdapters);
  if (count <= 0) {
    choice.SetToolTip("No Ethernet card");
    return;
  }
  for (int i = 0; i < count; ++i) {
    choice.Append(wxString::FromUTF8(table.AdapterDesc[i]));
  }
  choice.SetSelection(0);
  choice.SetToolTip(choice.GetString(0));
}

}  // namespace kova
