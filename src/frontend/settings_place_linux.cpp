#include <cstdlib>
#include <string>

#include "frontend/dialog_settings.h"

namespace kova {

std::string DialogSettingsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config == '/') {
    return std::string(config) + "/kova-upgrade/dialog.conf";
  }
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    return std::string(home) + "/.config/kova-upgrade/dialog.conf";
  }
  return "";
}

}  // namespace kova
