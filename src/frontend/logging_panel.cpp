#include "frontend/logging_panel.h"

namespace kova {

void LoggingPanel::AppendText(const std::string& text) {
  if (log_ != nullptr) {
    log_->Message(text);
  }
  inner_.AppendText(text);
}

void LoggingPanel::TraceText(const std::string& text) {
  if (log_ != nullptr) {
    log_->Text(text);
  }
  inner_.TraceText(text);
}

void LoggingPanel::ShowMessageBox(const std::string& text, const std::string& caption) {
  // Logged before the box blocks: an operator may leave it open for hours.
  if (log_ != nullptr) {
    log_->Box(caption, text);
  }
  inner_.ShowMessageBox(text, caption);
}

void LoggingPanel::PhaseChanged(const PhaseNote& note) {
  if (note.addressKnown) {
    address_ = DottedText(note.address.data());
  }
  inner_.PhaseChanged(note);
}

void LoggingPanel::OperationEnded(bool ok, FailReason reason) {
  if (log_ != nullptr) {
    log_->End(ok, FailReasonName(reason), address_);
  }
  inner_.OperationEnded(ok, reason);
}

void LoggingPanel::Begin(const OperationStart& start) {
  address_.clear();
  if (log_ != nullptr) {
    log_->Begin(start);
  }
}

}  // namespace kova
