#pragma once

#include <mutex>
#include <string>

#include "common/operator_panel.h"
#include "frontend/operation_log.h"

namespace kova {

// Passes every call on to the front end's own panel and writes what the
// operator is shown, the operation's course (images, phases, attempts), the
// traces and the result to the operation log.
class LoggingPanel : public OperatorPanel {
 public:
  // `log` may be null: nothing is logged.
  LoggingPanel(OperatorPanel& inner, OperationLog* log) : inner_(inner), log_(log) {}

  void AppendText(const std::string& text) override;
  void TraceText(const std::string& text) override;
  void ClearList() override;
  void EnableButtons(bool enable) override { inner_.EnableButtons(enable); }
  void SetGauge(int value) override { inner_.SetGauge(value); }
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  void ReleaseMessageBox() override { inner_.ReleaseMessageBox(); }
  void ReportFileProblem(const std::string& path, const std::string& reason) override;
  void ImageLoaded(const std::string& path, const uint8_t* data, size_t size) override;
  OperatorInputs ReadInputs() override { return inner_.ReadInputs(); }
  void PhaseChanged(const PhaseNote& note) override;
  void AnswerRead(BoardAnswer kind, const std::vector<uint8_t>& bytes) override {
    inner_.AnswerRead(kind, bytes);
  }
  void PlanReady(const UpgradePlan& plan) override { inner_.PlanReady(plan); }
  void AttemptStarted(int attempt, int attempts, FailReason after) override;
  void OperationFailing(FailReason reason) override { inner_.OperationFailing(reason); }
  void OperationEnded(bool ok, FailReason reason) override;

  // Begins an operation in the log; the board's address is forgotten. With
  // `ownerEnds` the engine's end does not end it in the log: the owner goes
  // on checking the board and ends it with the outcome.
  void Begin(const OperationStart& start, bool ownerEnds = false);
  // A warning about the log, for the message list. One given as an
  // operation begins is held until the operation has cleared the list.
  // Safe to call from any thread.
  void ShowWarning(const std::string& text);
  // The board's address as the last phase gave it; empty when unknown.
  // Read it on the worker, or once the worker has stopped.
  const std::string& Address() const { return address_; }

 private:
  OperatorPanel& inner_;
  OperationLog* log_;
  std::string address_;
  bool ownerEnds_ = false;
  std::mutex warningMutex_;
  bool clearComing_ = false;  // an operation has begun and not cleared the list yet
  std::string heldWarning_;
};

}  // namespace kova
