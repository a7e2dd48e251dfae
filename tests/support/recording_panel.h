#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/operator_panel.h"

namespace kova::test {

// A front end that records everything the engine shows, in order.
class RecordingPanel : public OperatorPanel {
 public:
  struct Box {
    std::string text;
    std::string caption;
  };

  void AppendText(const std::string& text) override {
    list += text;
    shown.push_back(text);
  }
  void TraceText(const std::string& text) override {
    if (recordTraces) {
      traces.push_back(text);
    }
  }
  void ClearList() override {
    list.clear();
    ++clears;
  }
  void EnableButtons(bool enable) override { buttonCalls.push_back(enable); }
  void SetGauge(int value) override { gauge.push_back(value); }
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    boxes.push_back({text, caption});
  }
  void ReportFileProblem(const std::string& path, const std::string& reason) override {
    fileProblems.push_back(path + ": " + reason);
  }
  OperatorInputs ReadInputs() override { return inputs; }
  void PhaseChanged(const PhaseNote& note) override { phases.push_back(note); }
  void AnswerRead(BoardAnswer kind, const std::vector<uint8_t>& bytes) override {
    answers.push_back({kind, bytes});
  }
  void PlanReady(const UpgradePlan& plan) override { plans.push_back(plan); }
  void OperationEnded(bool ok, FailReason reason) override { ended.push_back({ok, reason}); }
  void AttemptStarted(int attempt, int attempts, FailReason after) override {
    attemptsStarted.push_back(std::to_string(attempt) + "/" + std::to_string(attempts) + " " +
                              FailReasonName(after));
  }

  // The phases' names, in order.
  std::vector<std::string> PhaseNames() const {
    std::vector<std::string> names;
    for (const PhaseNote& note : phases) {
      names.emplace_back(PhaseName(note.phase));
    }
    return names;
  }

  // Whether the five operation buttons are currently disabled.
  bool ButtonsDisabled() const { return !buttonCalls.empty() && !buttonCalls.back(); }

  OperatorInputs inputs;
  // A whole upgrade traces every byte it sends; tests of one may do without.
  bool recordTraces = true;
  std::string list;
  std::vector<std::string> shown;
  std::vector<std::string> traces;
  std::vector<bool> buttonCalls;
  std::vector<int> gauge;
  std::vector<Box> boxes;
  std::vector<std::string> fileProblems;  // "PATH: REASON"
  std::vector<PhaseNote> phases;
  std::vector<std::pair<BoardAnswer, std::vector<uint8_t>>> answers;
  std::vector<UpgradePlan> plans;
  std::vector<std::pair<bool, FailReason>> ended;
  std::vector<std::string> attemptsStarted;  // "2/3 no-reply"
  int clears = 0;
};

}  // namespace kova::test
