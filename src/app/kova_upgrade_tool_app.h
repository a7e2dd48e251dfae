#pragma once

#include <wx/app.h>

namespace kova {

class KOVA_UpgradeToolApp : public wxApp {
 public:
  bool OnInit() override;
  int OnRun() override;
};

}  // namespace kova

wxDECLARE_APP(kova::KOVA_UpgradeToolApp);
