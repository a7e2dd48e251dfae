#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/operation_events.h"

namespace kova {

// What the operator has typed and chosen, read on the thread that posts an
// action and handed to the worker with it.
struct OperatorInputs {
  std::array<std::string, 6> macFields;  // the six two-character MAC fields
  std::string ipField = "192.168.100.100";
  int delayIndex = 0;  // 0..19, the delay choice
};

// The engine's only way to reach whoever shows it: the dialog, the command
// line, or a test recorder. Every call but ReadInputs comes from the worker
// thread; the implementation carries it to its own thread if it must, keeping
// the order of the calls.
class OperatorPanel {
 public:
  virtual ~OperatorPanel() = default;

  // A message-list line with the show flag 1: appended as given.
  virtual void AppendText(const std::string& text) = 0;
  // A line composed with the show flag 0: not part of the message list.
  virtual void TraceText(const std::string& /*text*/) {}
  virtual void ClearList() = 0;
  // Enables or disables About, Quit, Start, Get Version and Config Reset.
  virtual void EnableButtons(bool enable) = 0;
  virtual void SetGauge(int value) = 0;
  // Blocks the worker until the operator has closed the box. The caption is
  // passed untranslated; a panel with a translation lookup applies it.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
  // Called at shutdown: a worker waiting in ShowMessageBox must return.
  virtual void ReleaseMessageBox() {}
  // A file the engine could not load, and why; the reason is traced as well.
  virtual void ReportFileProblem(const std::string& /*path*/, const std::string& /*reason*/) {}
  // An image the operation loaded from `path`, as it lies in its buffer.
  virtual void ImageLoaded(const std::string& /*path*/, const uint8_t* /*data*/, size_t /*size*/) {}
  // Called on the posting thread when an action is posted.
  virtual OperatorInputs ReadInputs() = 0;

  // For front ends that show or log more than the message list; the
  // dialog's behaviour does without them.
  virtual void PhaseChanged(const PhaseNote& /*note*/) {}
  virtual void AnswerRead(BoardAnswer /*kind*/, const std::vector<uint8_t>& /*bytes*/) {}
  // A dry run found the board and worked out what an upgrade would do.
  virtual void PlanReady(const UpgradePlan& /*plan*/) {}
  // An upgrade that failed in the bootloader starts attempt `attempt` of
  // `attempts`; `after` is why the last one failed.
  virtual void AttemptStarted(int /*attempt*/, int /*attempts*/, FailReason /*after*/) {}
  // The operation failed for `reason`; its final box comes next.
  virtual void OperationFailing(FailReason /*reason*/) {}
  // The operation has ended and its clean-up has run; `reason` is kNone
  // when it succeeded.
  virtual void OperationEnded(bool /*ok*/, FailReason /*reason*/) {}
};

// A front end that shows nothing, for an engine run where nobody looks.
class SilentPanel : public OperatorPanel {
 public:
  void AppendText(const std::string&) override {}
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int) override {}
  void ShowMessageBox(const std::string&, const std::string&) override {}
  OperatorInputs ReadInputs() override { return {}; }
};

}  // namespace kova
