#pragma once

#include <wx/event.h>
#include <wx/string.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/operator_panel.h"

namespace kova {

// What the dialog's controls offer the engine. Every call runs on the GUI
// thread.
class PanelView {
 public:
  virtual ~PanelView() = default;

  virtual void ViewAppendText(const wxString& text) = 0;
  virtual void ViewClearList() = 0;
  virtual void ViewEnableButtons(bool enable) = 0;
  virtual void ViewSetGauge(int value) = 0;
  // Returns once the operator has closed the box.
  virtual void ViewShowMessageBox(const wxString& text, const wxString& caption) = 0;
  virtual OperatorInputs ViewReadInputs() = 0;
};

// The engine's panel on a toolkit dialog. Calls from any thread are queued to
// the GUI thread in the order they were made, so a message box appears only
// after every line appended before it; the calling thread waits until the
// box is closed.
class DialogPanel : public OperatorPanel {
 public:
  // `guiQueue` runs the queued calls on the GUI thread and must outlive every
  // call queued to it.
  DialogPanel(wxEvtHandler& guiQueue, PanelView& view);

  void AppendText(const std::string& text) override;
  void ClearList() override;
  void EnableButtons(bool enable) override;
  void SetGauge(int value) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  void ReleaseMessageBox() override;
  // Names the file in the message list, after the line of the step that
  // failed on it.
  void ReportFileProblem(const std::string& path, const std::string& reason) override;
  // The message list's last line before the final box: why, in words.
  void OperationFailing(FailReason reason) override;
  // Reads the controls; to be called on the GUI thread.
  OperatorInputs ReadInputs() override;

  // From now on queued calls no longer reach the view and no box waits: the
  // view is going away.
  void Detach();

 private:
  template <typename Call>
  void OnGuiThread(Call call);
  void BoxClosed(uint64_t ticket);

  wxEvtHandler& guiQueue_;
  PanelView& view_;
  std::atomic<bool> detached_{false};

  std::mutex boxMutex_;
  std::condition_variable boxCv_;
  bool released_ = false;
  uint64_t boxesRequested_ = 0;
  uint64_t boxesClosed_ = 0;
};

}  // namespace kova
