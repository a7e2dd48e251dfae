#pragma once

#include <map>
#include <string>

namespace kova {

// What the dialog remembers between runs: one "key=value" line per setting,
// UTF-8. Lines it does not know are kept as they are.
class DialogSettings {
 public:
  // `path` empty: nothing is read or written.
  explicit DialogSettings(std::string path);

  // The folder that held KOVA_Config.cfg when it was last chosen.
  std::string FirmwareFolder() const { return Get("firmware-folder"); }
  void SetFirmwareFolder(const std::string& folder) { Set("firmware-folder", folder); }
  // The interface chosen last, by its name in the interface choice.
  std::string InterfaceName() const { return Get("interface"); }
  void SetInterfaceName(const std::string& name) { Set("interface", name); }

  // Writes the file whole, through a new file renamed over the old one, so
  // that a crash leaves the old settings or the new ones. False with a
  // reason when it could not be written.
  bool Save(std::string& why) const;
  const std::string& Path() const { return path_; }

 private:
  std::string Get(const std::string& key) const;
  void Set(const std::string& key, const std::string& value);

  std::string path_;
  std::map<std::string, std::string> values_;
};

// Where the dialog keeps its settings: on Linux
// $XDG_CONFIG_HOME/kova-upgrade/dialog.conf, else
// $HOME/.config/kova-upgrade/dialog.conf; on Windows
// %APPDATA%\kova-upgrade\dialog.conf. Empty when the environment names no
// place.
std::string DialogSettingsPath();

}  // namespace kova
