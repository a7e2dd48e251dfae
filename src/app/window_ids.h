#pragma once

#include <wx/defs.h>
#include <wx/string.h>

#include <array>

namespace kova {

// The dialog's window ids, in the order they are drawn from the toolkit's id
// generator. Every control's window name is its id's name.
#define KOVA_WINDOW_IDS(X)            \
  X(ID_BUTTON_About)                  \
  X(ID_BUTTON_Quit)                   \
  X(ID_CHOICE_InterfaceSel)           \
  X(ID_STATICTEXT_SubTitleInterface)  \
  X(ID_STATICTEXT_SubTitleMACAddress) \
  X(ID_BUTTON_Start)                  \
  X(ID_TEXTCTRL_MsgList)              \
  X(ID_GAUGE_ProgressBar)             \
  X(ID_BUTTON_FN1)                    \
  X(ID_BUTTON_Clear)                  \
  X(ID_BUTTON_FN2)                    \
  X(ID_BUTTON_GetAPVersion)           \
  X(ID_BUTTON_ConfigReset)            \
  X(ID_BUTTON_FN3)                    \
  X(ID_BUTTON_FN5)                    \
  X(ID_BUTTON_FN6)                    \
  X(ID_BUTTON_FN7)                    \
  X(ID_BUTTON_FN8)                    \
  X(ID_BUTTON_FN9)                    \
  X(ID_BUTTON_FN10)                   \
  X(ID_BUTTON_FN4)                    \
  X(ID_CHOICE_DelayTimeSel)           \
  X(ID_STATICTEXT_SubTitleDelayTime)  \
  X(ID_TEXTCTRL_KOVAIPAddress)        \
  X(ID_TEXTCTRL_KOVAMACAddr1)         \
  X(ID_TEXTCTRL_KOVAMACAddr2)         \
  X(ID_TEXTCTRL_KOVAMACAddr3)         \
  X(ID_TEXTCTRL_KOVAMACAddr4)         \
  X(ID_TEXTCTRL_KOVAMACAddr5)         \
  X(ID_TEXTCTRL_KOVAMACAddr6)         \
  X(ID_PANEL_Panel)

#define KOVA_DECLARE_WINDOW_ID(name) extern const wxWindowID name;
KOVA_WINDOW_IDS(KOVA_DECLARE_WINDOW_ID)
#undef KOVA_DECLARE_WINDOW_ID

struct WindowIdEntry {
  const char* name;
  wxWindowID id;
};

#define KOVA_COUNT_WINDOW_ID(name) +1
constexpr size_t kWindowIdCount = 0 KOVA_WINDOW_IDS(KOVA_COUNT_WINDOW_ID);
#undef KOVA_COUNT_WINDOW_ID

// Every id with its name, in allocation order.
const std::array<WindowIdEntry, kWindowIdCount>& WindowIdTable();

// The name of one of the ids above; empty for any other id.
wxString WindowIdName(wxWindowID id);

}  // namespace kova
