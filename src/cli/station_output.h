#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli/output_queue.h"

namespace kova::cli {

// The output of a station's cards, which run at the same time: every piece
// goes through here, and on a terminal stderr carries one progress line
// with a segment per card ("eth1 program 45% | eth2 erase 10%"), which
// steps aside for each piece and comes back after it.
class StationOutput {
 public:
  StationOutput(OutputQueue& out, std::vector<std::string> cards, bool progressTerminal);

  void Put(Stream stream, const std::string& text);
  // The phase and percent of one card.
  void Progress(const std::string& card, const std::string& phase, int percent);
  // Takes the progress line away for good, before the summary.
  void Close();

  // The progress line as it is drawn.
  std::string Line() const;

 private:
  struct Segment {
    std::string card;
    std::string phase;
    int percent = -1;  // -1: nothing to show yet
  };

  void Draw();
  void StepAside();

  OutputQueue& out_;
  const bool terminal_;
  mutable std::mutex mutex_;
  std::vector<Segment> segments_;
  bool shown_ = false;
  bool closed_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace kova::cli
