#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace kova::cli {

// What asks a run to stop, taken by the main loop alone and never by the
// engine's threads, so that every one of them ends the run through the same
// clean shutdown: a dropped terminal or a closed console must not leave the
// board's neighbour entry behind.
//
// Linux: SIGINT, SIGTERM, SIGQUIT and SIGHUP (a hang-up ignored at start, as
// under nohup, stays ignored). Windows: Ctrl+C, Ctrl+Break, closing the
// console window, log-off and shut-down; for the last three Windows ends the
// process as soon as the handler returns, so the handler waits (at most
// about as long as Windows allows) until the run has cleaned up.
class StopRequests {
 public:
  // Made before the engine's threads start: on Linux they inherit the
  // blocked signals.
  StopRequests();
  // Tells a waiting console handler that the clean-up is done.
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Waits at most `limit` for a request; true when one came (now or before).
  // Any thread may wait: every one of them hears the request.
  bool Wait(std::chrono::milliseconds limit);

 private:
  std::atomic<bool> requested_{false};
};

// What stops a run, for the usage text: "a signal", or on Windows the
// console's keys and its closing.
std::string StopRequestsShown();

// Readies the standard streams before anything is written: a reader that
// goes away (| head) must not kill the process before it has shut the engine
// down; on Windows the output is UTF-8 and byte for byte what Linux writes
// (LF line ends), and a console learns the escape that clears a line.
void PrepareStandardStreams();

}  // namespace kova::cli
