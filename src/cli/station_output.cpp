#include "cli/station_output.h"

namespace kova::cli {

namespace {

// Redraws of the progress line: a few a second are plenty.
constexpr auto kDrawGap = std::chrono::milliseconds(100);

}  // namespace

StationOutput::StationOutput(OutputQueue& out, std::vector<std::string> cards,
                             bool progressTerminal)
    : out_(out), terminal_(progressTerminal) {
  for (std::string& card : cards) {
    segments_.push_back({std::move(card), "", -1});
  }
}

void StationOutput::Put(Stream stream, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool redraw = shown_;
  StepAside();
  out_.Put(stream, text);
  if (redraw) {
    Draw();
  }
}

void StationOutput::Progress(const std::string& card, const std::string& phase, int percent) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Segment& s : segments_) {
    if (s.card == card) {
      s.phase = phase;
      s.percent = percent;
    }
  }
  const auto now = std::chrono::steady_clock::now();
  if (terminal_ && !closed_ && (percent == 100 || now - lastDraw_ >= kDrawGap)) {
    Draw();
  }
}

void StationOutput::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  StepAside();
  closed_ = true;
}

std::string StationOutput::Line() const {
  std::string line;
  for (const Segment& s : segments_) {
    line += (line.empty() ? "" : " | ") + s.card + " " +
            (s.percent < 0 ? "-" : s.phase + " " + std::to_string(s.percent) + "%");
  }
  return line;
}

void StationOutput::Draw() {
  if (!terminal_ || closed_) {
    return;
  }
  out_.Put(Stream::kErr, "\r" + Line() + "\033[K");
  shown_ = true;
  lastDraw_ = std::chrono::steady_clock::now();
}

void StationOutput::StepAside() {
  if (shown_) {
    out_.Put(Stream::kErr, "\r\033[K");
    shown_ = false;
  }
}

}  // namespace kova::cli
