#include "app/kova_upgrade_tool_app.h"

#include <wx/filename.h>
#include <wx/image.h>
#include <wx/stdpaths.h>

#include "app/kova_upgrade_tool_main.h"
#include "app/translations.h"

// Also checks that the toolkit we run against was built as we were.
wxIMPLEMENT_APP(kova::KOVA_UpgradeToolApp);

namespace kova {

bool KOVA_UpgradeToolApp::OnInit() {
  wxInitAllImageHandlers();
  LoadTranslations(wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath());
  auto* dialog = new KOVA_UpgradeToolDialog(nullptr, wxID_ANY);
  SetTopWindow(dialog);
  dialog->ShowModal();
  dialog->Destroy();
  return true;
}

// The modal dialog was the whole program: there is no main loop to run, and
// a quit is a normal end, not the failed start that a false OnInit reports.
int KOVA_UpgradeToolApp::OnRun() {
  return 0;
}

}  // namespace kova
