#include "gui_support.h"

#include <wx/app.h>
#include <wx/timer.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace kova::test {

bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    wxTheApp->Yield(true);
    wxTheApp->ProcessPendingEvents();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void PumpFor(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  PumpUntil([end] { return std::chrono::steady_clock::now() > end; }, duration + 1s);
}

void Click(wxWindow* button) {
  ASSERT_NE(button, nullptr);
  wxCommandEvent event(wxEVT_BUTTON, button->GetId());
  event.SetEventObject(button);
  button->ProcessWindowEvent(event);
}

void Choose(wxChoice* choice, int index) {
  ASSERT_NE(choice, nullptr);
  choice->SetSelection(index);
  wxCommandEvent event(wxEVT_CHOICE, choice->GetId());
  event.SetEventObject(choice);
  event.SetInt(index);
  event.SetString(choice->GetString(index));
  choice->ProcessWindowEvent(event);
}

const std::vector<std::string>& OperationButtonNames() {
  static const std::vector<std::string> names = {"ID_BUTTON_About", "ID_BUTTON_Quit",
                                                 "ID_BUTTON_Start", "ID_BUTTON_GetAPVersion",
                                                 "ID_BUTTON_ConfigReset"};
  return names;
}

bool ConfigHome::active_ = false;

ConfigHome::ConfigHome() {
  char tmpl[] = "/tmp/kova-gui-config-XXXXXX";
  path_ = mkdtemp(tmpl);
  setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
  active_ = true;
}

ConfigHome::~ConfigHome() {
  active_ = false;
  std::filesystem::remove_all(path_);
}

std::string ConfigHome::SettingsText() const {
  std::ifstream in(path_ + "/kova-upgrade/dialog.conf");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

DialogHarness::DialogHarness(const std::string& workDir, std::function<void(const ShownBox&)> onBox,
                             std::function<void(Engine&)> beforeThreadsStart,
                             std::unique_ptr<NetPlatform> net,
                             std::unique_ptr<NeighbourTable> neighbours)
    : onBox_(std::move(onBox)) {
  char tmpl[] = "/tmp/kova-gui-state-XXXXXX";
  stateDir_ = mkdtemp(tmpl);
  if (!ConfigHome::Active()) {
    setenv("XDG_CONFIG_HOME", (stateDir_ + "/config").c_str(), 1);
  }
  DialogOptions options;
  options.workDir = workDir;
  options.lockDirectory = stateDir_;
  options.logDirectory = stateDir_ + "/log";
  options.beforeThreadsStart = std::move(beforeThreadsStart);
  options.net = std::move(net);
  options.neighbours = std::move(neighbours);
  options.messageBox = [this](const wxString& text, const wxString& caption) {
    boxes_.push_back({text.utf8_string(), caption.utf8_string()});
    if (onBox_) {
      onBox_(boxes_.back());
    }
  };
  options.question = [this](const wxString& text, const wxString& caption) {
    questions_.push_back({text.utf8_string(), caption.utf8_string()});
    return answer_;
  };
  options.chooseFolder = [this](const std::string& start) {
    folderAsks_.push_back(start);
    return folder_;
  };
  dialog_ = new KOVA_UpgradeToolDialog(nullptr, wxID_ANY, std::move(options));
  dialog_->Show();
  PumpFor(50ms);
}

DialogHarness::~DialogHarness() {
  delete dialog_;
  PumpFor(10ms);
  std::filesystem::remove_all(stateDir_);
}

wxWindow* DialogHarness::Find(const std::string& name) {
  return wxWindow::FindWindowByName(name, dialog_);
}

wxButton* DialogHarness::Button(const std::string& name) {
  return dynamic_cast<wxButton*>(Find(name));
}

wxTextCtrl* DialogHarness::Text(const std::string& name) {
  return dynamic_cast<wxTextCtrl*>(Find(name));
}

wxChoice* DialogHarness::Choice(const std::string& name) {
  return dynamic_cast<wxChoice*>(Find(name));
}

std::string DialogHarness::MessageList() {
  return Text("ID_TEXTCTRL_MsgList")->GetValue().utf8_string();
}

int DialogHarness::EnabledOperationButtons() {
  int enabled = 0;
  for (const std::string& name : OperationButtonNames()) {
    enabled += Button(name)->IsEnabled() ? 1 : 0;
  }
  return enabled;
}

bool DialogHarness::WaitIdle() {
  return PumpUntil([this] { return engine().IsIdle(); });
}

int DialogHarness::RunModal(std::function<void()> driver, std::chrono::seconds watchdog) {
  dialog_->Hide();
  wxTimer guard;
  guard.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
    ADD_FAILURE() << "the modal loop was still running at the watchdog";
    if (dialog_->IsModal()) {
      dialog_->EndModal(-1);
    }
  });
  guard.StartOnce(static_cast<int>(std::chrono::milliseconds(watchdog).count()));
  dialog_->CallAfter(std::move(driver));
  const int result = dialog_->ShowModal();
  guard.Stop();
  return result;
}

}  // namespace kova::test
