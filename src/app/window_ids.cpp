#include "app/window_ids.h"

#include <wx/utils.h>

namespace kova {

// Drawn at program start, before any window exists, in list order.
#define KOVA_DEFINE_WINDOW_ID(name) const wxWindowID name = wxNewId();
KOVA_WINDOW_IDS(KOVA_DEFINE_WINDOW_ID)
#undef KOVA_DEFINE_WINDOW_ID

const std::array<WindowIdEntry, kWindowIdCount>& WindowIdTable() {
#define KOVA_WINDOW_ID_ENTRY(name) WindowIdEntry{#name, name},
  static const std::array<WindowIdEntry, kWindowIdCount> table = {
      {KOVA_WINDOW_IDS(KOVA_WINDOW_ID_ENTRY)}};
#undef KOVA_WINDOW_ID_ENTRY
  return table;
}

wxString WindowIdName(wxWindowID id) {
  for (const WindowIdEntry& entry : WindowIdTable()) {
    if (entry.id == id) {
      return entry.name;
    }
  }
  return wxString();
}

}  // namespace kova
