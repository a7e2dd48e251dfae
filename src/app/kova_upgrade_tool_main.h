#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "app/dialog_panel.h"
#include "controller/engine.h"
#include "frontend/dialog_settings.h"
#include "frontend/interface_lock.h"
#include "frontend/logging_panel.h"
#include "frontend/operation_log.h"

namespace kova {

// Shows a message box and returns once the operator has closed it.
using MessageBoxFunction = std::function<void(const wxString& text, const wxString& caption)>;
// Asks a question with Yes and No; true for Yes.
using QuestionFunction = std::function<bool(const wxString& text, const wxString& caption)>;
// Asks for a folder, starting at `start`; empty when the operator cancels.
using FolderFunction = std::function<std::string(const std::string& start)>;

struct DialogOptions {
  // Where KOVA_Config.cfg and the images are looked up; empty: the current
  // directory. When the file is not there, the folder remembered from an
  // earlier run is used, or the operator is asked for one.
  std::string workDir;
  // Replace the toolkit's message box, its yes/no box and its folder chooser
  // when set.
  MessageBoxFunction messageBox;
  QuestionFunction question;
  FolderFunction chooseFolder;
  // Runs once the engine is set up, just before its threads start.
  std::function<void(Engine&)> beforeThreadsStart;
  // The socket layer and the host's neighbour table; by default the
  // operating system's.
  std::unique_ptr<NetPlatform> net;
  std::unique_ptr<NeighbourTable> neighbours;
  // Where the per-interface locks are kept; empty: the system's place.
  std::string lockDirectory;
  // Where the daily operation logs go; empty: the user's state directory.
  std::string logDirectory;
};

// The tool's one modal dialog: the operator's controls over the engine.
class KOVA_UpgradeToolDialog : public wxDialog, private PanelView {
 public:
  explicit KOVA_UpgradeToolDialog(wxWindow* parent, wxWindowID id = wxID_ANY,
                                  DialogOptions options = {});
  ~KOVA_UpgradeToolDialog() override;

  // Ends the engine's threads, cleans up after them and stops the timer.
  // Safe to repeat.
  void ShutdownAll();

  Engine& GetEngine() { return engine_; }
  // Whether a MAC field is marked as the one that did not parse.
  bool MacFieldMarked(int index) const { return macMarked_.at(static_cast<size_t>(index)); }
  bool UiTimerRunning() const { return UiTimer.IsRunning(); }

 private:
  void CreateControls();
  void ConnectEvents();
  void InitialiseDialog();
  void SetFonts();

  void OnAbout(wxCommandEvent& event);
  void OnQuit(wxCommandEvent& event);
  void OnInterfaceSel(wxCommandEvent& event);
  void OnDelayTimeSel(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnUiTimer(wxTimerEvent& event);
  // The function buttons act only while no operation runs: they touch state
  // that the worker owns during one.
  void RunWhileIdle(const std::function<void()>& action);
  // Posts an operation on the chosen interface once its lock is taken, and
  // begins its log.
  void PostOperation(int32_t action);
  // The lock is held from the post to the end of the operation.
  void ReleaseLockAfterOperation();
  std::array<wxTextCtrl*, 6> MacFields() const;
  std::array<std::string, 6> MacFieldTexts() const;

  // Sets the folder the next operation reads KOVA_Config.cfg from: the one
  // given, else the one remembered, else the one the operator chooses.
  void FindFirmwareFolder();
  // The interface chosen in an earlier run, when this workstation still has it.
  void PreselectRememberedInterface();
  void SaveSettings();
  // An upgrade is past its configuration and working on the board.
  bool UpgradeRunning() const;

  // A scanner types a MAC as fast keystrokes, a person as slow ones: each
  // field takes two digits and passes on to the next; a whole MAC pasted
  // into a field fills all six; Enter presses Start.
  void OnMacChar(size_t index, wxKeyEvent& event);
  void OnMacKeyDown(wxKeyEvent& event);
  void OnMacPaste(wxClipboardTextEvent& event);
  void TypeMacDigit(size_t index, wxChar digit);
  void MoveToMacField(size_t index);
  bool SpreadMac(const wxString& text);
  void MarkMacField(size_t index, bool marked);
  // After an operation: marks the fields of a MAC that did not parse, and
  // readies the fields for the next board's MAC.
  void OperationFinished();

  // PanelView
  void ViewAppendText(const wxString& text) override;
  void ViewClearList() override;
  void ViewEnableButtons(bool enable) override;
  void ViewSetGauge(int value) override;
  void ViewShowMessageBox(const wxString& text, const wxString& caption) override;
  OperatorInputs ViewReadInputs() override;

  MessageBoxFunction messageBox_;
  QuestionFunction question_;
  FolderFunction chooseFolder_;
  std::string givenFolder_;
  DialogSettings settings_;
  std::function<void(Engine&)> beforeThreadsStart_;
  // Declared before the engine, which calls them until its threads are joined.
  DialogPanel panel_;
  // Cleared when the dialog closes: the log outlives the panel it warns on.
  std::atomic<bool> logWarningsShown_{true};
  std::unique_ptr<OperationLog> log_;
  LoggingPanel logged_;
  Engine engine_;
  InterfaceLock lock_;
  int operationsAtPost_ = 0;
  int operationsSeen_ = 0;
  int32_t actionPosted_ = -1;
  std::array<std::string, 6> macAtPost_;
  std::array<bool, 6> macMarked_{};

  wxBoxSizer* BoxSizer = nullptr;
  wxPanel* Panel = nullptr;
  wxButton* Button_About = nullptr;
  wxButton* Button_Quit = nullptr;
  wxChoice* Choice_InterfaceSel = nullptr;
  wxStaticText* StaticText_SubTitleInterface = nullptr;
  wxStaticText* StaticText_SubTitleMACAddress = nullptr;
  wxButton* Button_Start = nullptr;
  wxTextCtrl* TextCtrl_MsgList = nullptr;
  wxGauge* Gauge_ProgressBar = nullptr;
  wxButton* Button_FN1 = nullptr;
  wxButton* Button_Clear = nullptr;
  wxButton* Button_FN2 = nullptr;
  wxButton* Button_GetAPVersion = nullptr;
  wxButton* Button_ConfigReset = nullptr;
  wxButton* Button_FN3 = nullptr;
  wxButton* Button_FN5 = nullptr;
  wxButton* Button_FN6 = nullptr;
  wxButton* Button_FN7 = nullptr;
  wxButton* Button_FN8 = nullptr;
  wxButton* Button_FN9 = nullptr;
  wxButton* Button_FN10 = nullptr;
  wxButton* Button_FN4 = nullptr;
  wxChoice* Choice_DelayTimeSel = nullptr;
  wxStaticText* StaticText_SubTitleDelayTime = nullptr;
  wxTextCtrl* TextCtrl_KOVAIPAddress = nullptr;
  wxTextCtrl* TextCtrl_KOVAMACAddr1 = nullptr;
  wxTextCtrl* TextCtrl_KOVAMACAddr2 = nullptr;
  wxTextCtrl* TextCtrl_KOVAMACAddr3 = nullptr;
  wxTextCtrl* TextCtrl_KOVAMACAddr4 = nullptr;
  wxTextCtrl* TextCtrl_KOVAMACAddr5 = nullptr;
  wxTextCtrl* TextCtrl_KOVAMACAddr6 = nullptr;

  wxTimer UiTimer;

  wxDECLARE_EVENT_TABLE();
};

}  // namespace kova
