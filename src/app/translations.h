#pragma once

#include <wx/string.h>

namespace kova {

// The catalogue of the dialog's labels and captions.
constexpr const char* kTextDomain = "kova-upgrade-tool";

// Installs the toolkit's translations for the user's language, with the
// dialog's catalogue looked up under `programDir`/../share/locale (an
// installed program) and `programDir`/locale (the build tree). False when
// the language has no catalogue of the dialog's: the labels then stay as
// written.
bool LoadTranslations(const wxString& programDir);

}  // namespace kova
