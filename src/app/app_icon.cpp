#include "app/app_icon.h"

#include <wx/bmpbndl.h>

namespace kova {

wxIconBundle AppIcons() {
  const wxBitmapBundle svg = wxBitmapBundle::FromSVG(kAppIconSvg, wxSize(64, 64));
  wxIconBundle icons;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    icons.AddIcon(svg.GetIcon(wxSize(size, size)));
  }
  return icons;
}

}  // namespace kova
