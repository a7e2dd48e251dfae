#include "app/dialog_panel.h"

#include <wx/intl.h>
#include <wx/thread.h>

namespace kova {

namespace {

// The captions of the engine's message boxes. The engine passes them as
// written and the panel looks them up; they are marked here so that the
// catalogue template carries them.
[[maybe_unused]] const char* const kEngineCaptions[] = {
    wxTRANSLATE("Warining..."),         wxTRANSLATE("KOVA Upgrade..."),
    wxTRANSLATE("... KOVA checkcode"),  wxTRANSLATE("... KOVA firmware version"),
    wxTRANSLATE("... KOVA Configuare"),
};

}  // namespace

DialogPanel::DialogPanel(wxEvtHandler& guiQueue, PanelView& view)
    : guiQueue_(guiQueue), view_(view) {}

template <typename Call>
void DialogPanel::OnGuiThread(Call call) {
  // Even calls made on the GUI thread are queued: running them at once would
  // put them ahead of the worker's calls still waiting in the queue.
  guiQueue_.CallAfter([this, call] {
    if (!detached_.load()) {
      call();
    }
  });
}

void DialogPanel::AppendText(const std::string& text) {
  // Texts stay std::string until they reach the GUI thread, so that no
  // toolkit string is shared between threads.
  OnGuiThread([this, text] { view_.ViewAppendText(wxString::FromUTF8(text)); });
}

void DialogPanel::ReportFileProblem(const std::string& path, const std::string& reason) {
  AppendText("\n " + path + ": " + reason + " !");
}

void DialogPanel::ClearList() {
  OnGuiThread([this] { view_.ViewClearList(); });
}

void DialogPanel::EnableButtons(bool enable) {
  OnGuiThread([this, enable] { view_.ViewEnableButtons(enable); });
}

void DialogPanel::SetGauge(int value) {
  OnGuiThread([this, value] { view_.ViewSetGauge(value); });
}

void DialogPanel::ShowMessageBox(const std::string& text, const std::string& caption) {
  if (wxThread::IsMain()) {
    if (!detached_.load()) {
      view_.ViewShowMessageBox(wxString::FromUTF8(text),
                               wxGetTranslation(wxString::FromUTF8(caption)));
    }
    return;
  }
  std::unique_lock<std::mutex> lock(boxMutex_);
  if (released_) {
    return;
  }
  const uint64_t ticket = ++boxesRequested_;
  lock.unlock();

  guiQueue_.CallAfter([this, text, caption, ticket] {
    bool show = false;
    {
      std::lock_guard<std::mutex> guard(boxMutex_);
      show = !released_ && !detached_.load();
    }
    // A box whose worker was released while it waited in the queue is
    // dropped: nobody is left to answer to.
    if (show) {
      view_.ViewShowMessageBox(wxString::FromUTF8(text),
                               wxGetTranslation(wxString::FromUTF8(caption)));
    }
    BoxClosed(ticket);
  });

  lock.lock();
  boxCv_.wait(lock, [this, ticket] { return released_ || boxesClosed_ >= ticket; });
}

void DialogPanel::BoxClosed(uint64_t ticket) {
  {
    std::lock_guard<std::mutex> lock(boxMutex_);
    if (ticket > boxesClosed_) {
      boxesClosed_ = ticket;
    }
  }
  boxCv_.notify_all();
}

void DialogPanel::OperationFailing(FailReason reason) {
  AppendText("\nFailed: " + ReasonLine(FailReasonName(reason)));
}

void DialogPanel::ReleaseMessageBox() {
  {
    std::lock_guard<std::mutex> lock(boxMutex_);
    released_ = true;
  }
  boxCv_.notify_all();
}

OperatorInputs DialogPanel::ReadInputs() {
  return view_.ViewReadInputs();
}

void DialogPanel::Detach() {
  detached_.store(true);
  ReleaseMessageBox();
}

}  // namespace kova
