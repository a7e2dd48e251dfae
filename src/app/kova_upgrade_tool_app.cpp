#include "app/kova_upgrade_tool_app.h"

#include <wx/cmdline.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/stdpaths.h>

#include <utility>

#include "app/kova_upgrade_tool_main.h"
#include "app/translations.h"

// Also checks that the toolkit we run against was built as we were.
wxIMPLEMENT_APP(kova::KOVA_UpgradeToolApp);

namespace kova {

bool KOVA_UpgradeToolApp::OnInit() {
  wxInitAllImageHandlers();
  LoadTranslations(wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath());
  // -C names the firmware folder for this run only; the folder chosen in
  // the dialog is the one remembered.
  wxCmdLineParser parser(argc, argv);
  parser.AddSwitch("h", "help", _("show this help"), wxCMD_LINE_OPTION_HELP);
  parser.AddOption("C", "directory", _("where KOVA_Config.cfg and the images are"),
                   wxCMD_LINE_VAL_STRING);
  if (parser.Parse() != 0) {
    return false;
  }
  DialogOptions options;
  wxString directory;
  if (parser.Found("C", &directory)) {
    wxFileName folder = wxFileName::DirName(directory);
    folder.MakeAbsolute();
    options.workDir = folder.GetPath().utf8_string();
  }
  auto* dialog = new KOVA_UpgradeToolDialog(nullptr, wxID_ANY, std::move(options));
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
