#include "app/translations.h"

#include <wx/filename.h>
#include <wx/translation.h>

namespace kova {

bool LoadTranslations(const wxString& programDir) {
  for (const char* below : {"../share/locale", "locale"}) {
    wxFileName dir = wxFileName::DirName(programDir + "/" + below);
    dir.Normalize(wxPATH_NORM_DOTS | wxPATH_NORM_ABSOLUTE);
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(dir.GetPath());
  }
  auto* translations = new wxTranslations;
  wxTranslations::Set(translations);
  translations->SetLanguage(wxLANGUAGE_DEFAULT);
  translations->AddStdCatalog();
  return translations->AddCatalog(kTextDomain);
}

}  // namespace kova
