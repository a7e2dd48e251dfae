#include <windows.h>

#include <cstdlib>
#include <string>

#include "frontend/dialog_settings.h"

namespace kova {

std::string DialogSettingsPath() {
  const wchar_t* roaming = _wgetenv(L"APPDATA");
  if (roaming == nullptr || *roaming == L'\0') {
    return "";
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, roaming, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return "";
  }
  std::string folder(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, roaming, -1, folder.data(), size, nullptr, nullptr);
  folder.resize(static_cast<size_t>(size - 1));
  return folder + "\\kova-upgrade\\dialog.conf";
}

}  // namespace kova
