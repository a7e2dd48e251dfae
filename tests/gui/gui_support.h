#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/textctrl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/kova_upgrade_tool_main.h"
#include "engine_fixture.h"

namespace kova::test {

using namespace std::chrono_literals;

// Runs the toolkit's event loop until `pred` holds; false if `limit` passed.
bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 10s);
// Runs the event loop for `duration`.
void PumpFor(std::chrono::milliseconds duration);

// The operator's press and choice, as the toolkit delivers them.
void Click(wxWindow* button);
void Choose(wxChoice* choice, int index);

// The five buttons that an operation locks.
const std::vector<std::string>& OperationButtonNames();

// Points XDG_CONFIG_HOME at a fresh folder for as long as it lives, so that
// dialogs built meanwhile share their settings; without one, each harness
// has a folder of its own.
class ConfigHome {
 public:
  ConfigHome();
  ~ConfigHome();
  ConfigHome(const ConfigHome&) = delete;
  ConfigHome& operator=(const ConfigHome&) = delete;
  const std::string& path() const { return path_; }
  // The settings file the dialog writes there.
  std::string SettingsText() const;
  static bool Active() { return active_; }

 private:
  static bool active_;
  std::string path_;
};

struct ShownBox {
  std::string text;
  std::string caption;
};

// The real dialog, shown, with its message boxes answered by the test.
class DialogHarness {
 public:
  // `onBox` runs inside each box, on the GUI thread, before it is closed.
  explicit DialogHarness(const std::string& workDir,
                         std::function<void(const ShownBox&)> onBox = nullptr,
                         std::function<void(Engine&)> beforeThreadsStart = nullptr,
                         std::unique_ptr<NetPlatform> net = nullptr,
                         std::unique_ptr<NeighbourTable> neighbours = nullptr);
  ~DialogHarness();
  DialogHarness(const DialogHarness&) = delete;
  DialogHarness& operator=(const DialogHarness&) = delete;

  KOVA_UpgradeToolDialog& dialog() { return *dialog_; }
  Engine& engine() { return dialog_->GetEngine(); }
  const std::vector<ShownBox>& boxes() const { return boxes_; }
  // The yes/no questions asked, answered with `answer`.
  const std::vector<ShownBox>& questions() const { return questions_; }
  void AnswerQuestions(bool answer) { answer_ = answer; }
  // Where each folder chooser started; each is answered with `folder`
  // (empty: Cancel).
  const std::vector<std::string>& folderAsks() const { return folderAsks_; }
  void AnswerFolder(const std::string& folder) { folder_ = folder; }
  // Where the dialog keeps its interface locks, and its logs under log/.
  const std::string& stateDir() const { return stateDir_; }

  // A control by its window name.
  wxWindow* Find(const std::string& name);
  wxButton* Button(const std::string& name);
  wxTextCtrl* Text(const std::string& name);
  wxChoice* Choice(const std::string& name);
  std::string MessageList();
  // How many of the five operation buttons are enabled.
  int EnabledOperationButtons();

  // Waits until the worker has finished its start-up pass.
  bool WaitIdle();
  // Shows the dialog modally with `driver` run from inside its loop; a
  // watchdog ends a loop that the driver left running.
  int RunModal(std::function<void()> driver, std::chrono::seconds watchdog = 20s);

 private:
  std::string stateDir_;
  std::vector<ShownBox> boxes_;
  std::vector<ShownBox> questions_;
  bool answer_ = false;
  std::vector<std::string> folderAsks_;
  std::string folder_;
  std::function<void(const ShownBox&)> onBox_;
  KOVA_UpgradeToolDialog* dialog_ = nullptr;
};

}  // namespace kova::test
