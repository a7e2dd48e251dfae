#pragma once

#include <string>
#include <vector>

namespace kova::cli {

// One board of a run.
struct BoardOutcome {
  std::string mac;
  std::string address;  // empty when unknown
  bool ran = false;     // false: skipped after the batch stopped
  bool ok = false;
  std::string reason;  // empty on success
  double seconds = 0;
  bool entryLeft = false;  // its neighbour entry could not be removed
};

// The table printed after a batch: MAC, address, result, reason, time.
std::string SummaryTable(const std::vector<BoardOutcome>& boards);

// 0 when every board ran and succeeded, else 1.
int BatchExitCode(const std::vector<BoardOutcome>& boards);

}  // namespace kova::cli
