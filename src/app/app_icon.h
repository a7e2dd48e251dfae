#pragma once

#include <wx/iconbndl.h>

namespace kova {

// The tool's icon (packaging/kova-upgrade-tool.svg, built in).
extern const char kAppIconSvg[];

// The icon at the sizes a window manager asks for.
wxIconBundle AppIcons();

}  // namespace kova
