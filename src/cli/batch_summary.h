#pragma once

#include <functional>
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
  // --verify: the versions before and after ("bootloader" before when the
  // board waited in it); empty when unknown.
  bool verified = false;
  std::string versionBefore;
  std::string versionAfter;
  std::string card;  // a station's: the interface of the board; else empty
};

// The line before each board of a batch: "=== 2/3 00:1A:2B:3C:4D:5F ===".
std::string BatchHeader(size_t index, size_t count, const std::string& mac);

// "v0.107 -> v0.108"; "?" for a version not known.
std::string Versions(const BoardOutcome& b);

// The table printed after a batch or a station: MAC, address, result,
// reason, time, and the firmware before and after when the boards were
// verified; a station's begins with the card.
std::string SummaryTable(const std::vector<BoardOutcome>& boards);

// 0 when every board ran and succeeded, else 1.
int BatchExitCode(const std::vector<BoardOutcome>& boards);

// Runs `board` for each MAC in turn. A failure stops the batch unless
// `keepGoing`; an interruption, or a neighbour entry that could not be
// removed (every board is given the same address), stops it whatever
// `keepGoing` says. Boards after the stop are skipped; `warn` says why the
// batch stopped early. `interrupted` is set by `board` when a signal came.
std::vector<BoardOutcome> RunBatch(
    const std::vector<std::string>& macs, bool keepGoing,
    const std::function<BoardOutcome(size_t index, bool& interrupted)>& board,
    const std::function<void(const std::string&)>& warn, bool& interrupted);

}  // namespace kova::cli
