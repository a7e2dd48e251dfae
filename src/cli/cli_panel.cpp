#include "cli/cli_panel.h"

#include <unistd.h>

namespace kova::cli {

CliPanel::CliPanel(const OperatorInputs& inputs, bool verbose)
    : inputs_(inputs), verbose_(verbose), progressTerminal_(isatty(STDERR_FILENO) == 1) {}

void CliPanel::Write(const std::string& text) {
  if (text.empty()) {
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  atLineStart_ = text.back() == '\n';
}

void CliPanel::AppendText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Write(text);
}

void CliPanel::TraceText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (verbose_) {
    Write(text);
  }
}

void CliPanel::SetGauge(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!progressTerminal_) {
    return;
  }
  constexpr int kWidth = 40;
  const int filled = value * kWidth / 100;
  std::string bar = "\r[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
  bar += std::to_string(value) + "%";
  std::fputs(bar.c_str(), stderr);
  std::fflush(stderr);
  progressShown_ = true;
}

void CliPanel::ShowMessageBox(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string body = (!text.empty() && text.front() == '\n') ? text.substr(1) : text;
  Write((atLineStart_ ? "" : "\n") + std::string("[") + caption + "] " + body + "\n");
}

void CliPanel::ReportFileProblem(const std::string& path, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (progressShown_) {
    std::fputs("\n", stderr);
    progressShown_ = false;
  }
  std::fprintf(stderr, "kova-upgrade: %s: %s\n", path.c_str(), reason.c_str());
  std::fflush(stderr);
}

void CliPanel::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!atLineStart_) {
    Write("\n");
  }
  if (progressShown_) {
    std::fputs("\n", stderr);
    progressShown_ = false;
  }
}

}  // namespace kova::cli
