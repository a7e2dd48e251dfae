#pragma once

#include <wx/window.h>

namespace kova {

// Lets a one-line entry or choice show its text at the dialog's fixed 22
// pixel height: the desktop theme's padding and minimum height are sized for
// taller controls and would push the text out of the frame. Affects only
// `control` and the widgets inside it, not the rest of the screen.
void CompactNativeControl(wxWindow& control);

}  // namespace kova
