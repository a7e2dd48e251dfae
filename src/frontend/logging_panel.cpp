#include "frontend/logging_panel.h"

#include "common/sha256.h"

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

void LoggingPanel::ReportFileProblem(const std::string& path, const std::string& reason) {
  if (log_ != nullptr) {
    log_->Note("not loaded: " + path + ": " + reason);
  }
  inner_.ReportFileProblem(path, reason);
}

void LoggingPanel::ImageLoaded(const std::string& path, const uint8_t* data, size_t size) {
  if (log_ != nullptr) {
    log_->Note("image " + path + ", " + std::to_string(size) + " bytes, sha256 " +
               Sha256Hex(data, size));
  }
  inner_.ImageLoaded(path, data, size);
}

void LoggingPanel::PhaseChanged(const PhaseNote& note) {
  if (note.addressKnown) {
    address_ = DottedText(note.address.data());
  }
  if (log_ != nullptr) {
    std::string line = std::string("phase ") + PhaseName(note.phase);
    if (note.macKnown) {
      line += ", board " + MacBytesText(note.mac.data());
    }
    if (note.addressKnown) {
      line += (note.macKnown ? " at " : ", board at ") + address_;
    }
    if (note.imageBytes > 0) {
      line += ", " + std::to_string(note.imageBytes) + " bytes to send";
    }
    log_->Note(line);
  }
  inner_.PhaseChanged(note);
}

void LoggingPanel::AttemptStarted(int attempt, int attempts, FailReason after) {
  if (log_ != nullptr) {
    log_->Note("attempt " + std::to_string(attempt) + " of " + std::to_string(attempts) +
               " after " + FailReasonName(after));
  }
  inner_.AttemptStarted(attempt, attempts, after);
}

void LoggingPanel::OperationEnded(bool ok, FailReason reason) {
  if (log_ != nullptr && !ownerEnds_) {
    log_->End(ok, FailReasonName(reason), address_);
  }
  inner_.OperationEnded(ok, reason);
}

void LoggingPanel::ClearList() {
  inner_.ClearList();
  std::string held;
  {
    std::lock_guard<std::mutex> lock(warningMutex_);
    clearComing_ = false;
    held.swap(heldWarning_);
  }
  if (!held.empty()) {
    inner_.AppendText(held);
  }
}

void LoggingPanel::ShowWarning(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(warningMutex_);
    if (clearComing_) {
      heldWarning_ += "\n" + text;
      return;
    }
  }
  inner_.AppendText("\n" + text);
}

void LoggingPanel::Begin(const OperationStart& start, bool ownerEnds) {
  ownerEnds_ = ownerEnds;
  {
    std::lock_guard<std::mutex> lock(warningMutex_);
    clearComing_ = true;
  }
  address_.clear();
  if (log_ != nullptr) {
    log_->Begin(start);
  }
}

}  // namespace kova
