#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace kova::cli {

// Where a piece of output goes: the descriptors of stdout and stderr.
enum class Stream { kOut = 1, kErr = 2 };

struct OutputLimits {
  // What may wait for the reader; a piece also counts kPieceCost bytes, so
  // that a flood of tiny ones is bounded as well.
  size_t bytes = 1u << 20;
};

// The program's output on its way to stdout and stderr, written by a thread
// of its own: whoever puts text here never waits for a reader that stopped
// reading (`| less`, a full pipe). The order of everything put is kept
// across both streams. What does not fit is dropped whole and counted; once
// the reader has caught up with half the bound, a warning on stderr says
// how much went missing there, before the output goes on.
class OutputQueue {
 public:
  // Writes bytes to a descriptor as write() does: the count written, or -1
  // with errno set. Tests pass their own.
  using Writer = std::function<long(int fd, const char* data, size_t size)>;

  static constexpr size_t kPieceCost = 32;

  explicit OutputQueue(OutputLimits limits = {}, Writer writer = {});
  // Finish() with no wait for a reader that stopped.
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // Never waits for the reader. Ignored after Finish().
  void Put(Stream stream, std::string text);

  // Writes what is still queued and ends the thread. Waits while the reader
  // takes the output; a reader that takes nothing for `stall` is given up
  // on, and the rest is lost. True when everything was written.
  bool Finish(std::chrono::milliseconds stall);

  // What waits for the reader, counted as against the bound: 0 once the
  // reader has taken everything and the queue has seen it taken.
  size_t Waiting() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace kova::cli
