#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "common/operator_panel.h"

namespace kova::cli {

// The engine's front end on a terminal: the message list goes to stdout as
// it grows, a message box becomes a line "[CAPTION] TEXT", and the gauge is
// a bar on stderr when stderr is a terminal. Nothing waits for input.
class CliPanel : public OperatorPanel {
 public:
  CliPanel(const OperatorInputs& inputs, bool verbose);

  void AppendText(const std::string& text) override;
  void TraceText(const std::string& text) override;
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int value) override;
  void ShowMessageBox(const std::string& text, const std::string& caption) override;
  OperatorInputs ReadInputs() override { return inputs_; }
  // "kova-upgrade: PATH: REASON" on stderr, whether or not traces are shown.
  void ReportFileProblem(const std::string& path, const std::string& reason) override;

  // Ends the last line and the progress bar.
  void Finish();

 private:
  void Write(const std::string& text);

  std::mutex mutex_;
  OperatorInputs inputs_;
  bool verbose_;
  bool atLineStart_ = true;
  bool progressShown_ = false;
  bool progressTerminal_;
};

}  // namespace kova::cli
