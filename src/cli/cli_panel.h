#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli/batch_summary.h"
#include "cli/dry_run_text.h"
#include "cli/output_queue.h"
#include "cli/station_output.h"
#include "common/operator_panel.h"

namespace kova::cli {

// The engine's front end on a terminal or a pipe. As text: the message list
// goes to stdout as it grows, a message box becomes a line "[CAPTION] TEXT",
// answers the board gave are printed, and on a terminal stderr carries a
// progress bar. With JSON: stdout carries one event object per line instead
// (docs/cli-events.schema.json). Nothing waits for input, nor for whoever
// reads the output: it goes through `out`.
class CliPanel : public OperatorPanel {
 public:
  CliPanel(OutputQueue& out, bool json, bool verbose, bool progressTerminal);

  // The board of the next operation; forgets the answers of the last one.
  void SetInputs(const OperatorInputs& inputs);
  void SetPlanContext(const PlanContext& context) { planContext_ = context; }
  // One card of a station, before anything is written: every stdout line
  // begins "[CARD] " and is written whole, every JSON event carries
  // "card", every stderr line begins "[CARD] "; the output goes through
  // `station`, which shows the progress of all cards.
  void ForCard(const std::string& card, StationOutput* station);

  void AppendText(const std::string& text) override;
  void TraceText(const std::string& text) override;
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int value) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  OperatorInputs ReadInputs() override;
  // "kova-upgrade: PATH: REASON" on stderr, whether or not traces are shown.
  void ReportFileProblem(const std::string& path, const std::string& reason) override;
  void PhaseChanged(const PhaseNote& note) override;
  void AnswerRead(BoardAnswer kind, const std::vector<uint8_t>& bytes) override;
  void PlanReady(const UpgradePlan& plan) override;
  // JSON: an "attempt" event; as text the message list says it.
  void AttemptStarted(int attempt, int attempts, FailReason after) override;

  // Ends the last line and clears the progress bar.
  void Finish();
  // JSON: the result event of one board (text prints nothing: the message
  // list and its box have said it).
  void Result(const BoardOutcome& outcome, int exitCode);
  // After a batch: the table, or the summary event.
  void Summary(const std::vector<BoardOutcome>& boards, int exitCode);
  // A line of the program's own, as text or as a "message" event.
  void Note(const std::string& line);
  // Writes a complete JSON line.
  void Event(const std::string& line);
  // "kova-upgrade: TEXT" on stderr.
  void ErrorLine(const std::string& text);
  // "kova-upgrade: warning: TEXT" on stderr.
  void Warning(const std::string& text) { ErrorLine("warning: " + text); }
  bool Json() const { return json_; }

 private:
  using Clock = std::chrono::steady_clock;

  void Write(const std::string& text);
  void Put(Stream stream, const std::string& text);
  std::string CardLead() const;
  void DrawBar();
  void ClearBar();

  OutputQueue& out_;
  std::mutex mutex_;
  OperatorInputs inputs_;
  const bool json_;
  const bool verbose_;
  const bool progressTerminal_;
  // On a terminal the bar may take the line a message has begun; that line
  // is put back when the bar goes.
  const bool stdoutTerminal_;
  std::string openLine_;
  PlanContext planContext_;
  std::string card_;  // empty: not a station's
  StationOutput* station_ = nullptr;
  std::string cardLine_;  // the begun stdout line of a card
  bool atLineStart_ = true;

  // Progress of the running phase.
  std::string phase_ = "load";
  uint64_t phaseBytes_ = 0;
  Clock::time_point phaseStart_ = Clock::now();
  int percent_ = 0;
  int lastEventPercent_ = -1;
  Clock::time_point lastEvent_{};
  Clock::time_point lastDraw_{};
  bool barShown_ = false;

  // What the board answered in this operation.
  std::string version_;
  std::string modelName_;
  std::string eeprom_;
  bool haveVersion_ = false;
  bool haveModelName_ = false;
  bool haveEeprom_ = false;
};

}  // namespace kova::cli
