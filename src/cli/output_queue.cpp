#include "cli/output_queue.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace kova::cli {

namespace {

// At most this much is written at once, so that a slow reader shows that it
// still reads between the writes (a pipe takes this much in one piece).
constexpr size_t kWriteAtOnce = 4096;
// Less than that waits this long for more: a trace comes a line at a time,
// and a wake-up and a write for each line would cost the engine's threads
// more than the lines are worth. A person does not see the delay.
constexpr auto kGather = std::chrono::milliseconds(20);
// A descriptor that someone else made non-blocking is tried again after this.
constexpr auto kBusyPause = std::chrono::milliseconds(10);

long WriteDescriptor(int fd, const char* data, size_t size) {
  return static_cast<long>(::write(fd, data, static_cast<unsigned>(size)));
}

}  // namespace

struct OutputQueue::State {
  struct Piece {
    Stream stream;
    std::string text;
    size_t cost;  // what it counts against the bound
  };

  OutputLimits limits;
  Writer writer;

  std::mutex mutex;
  // Signalled when a piece comes, when the drain has written some, and at
  // the finish.
  std::condition_variable cv;
  std::deque<Piece> pieces;
  size_t offset = 0;     // what of the front piece is written already
  size_t queued = 0;     // the cost of the pieces, the front one whole
  size_t pending = 0;    // their bytes not written yet
  uint64_t written = 0;  // bytes taken off the queue so far
  bool lastEndsLine = true;
  bool finishing = false;
  // What was dropped since the output last fell behind.
  uint64_t gapLines = 0;
  uint64_t gapBytes = 0;

  // The drain's own: a stream whose reader is gone takes nothing more.
  bool gone[3] = {false, false, false};
  // The finishing thread's own.
  std::thread thread;

  void Push(Stream stream, std::string text, bool counted = true) {
    lastEndsLine = text.back() == '\n';
    const size_t cost = counted ? text.size() + kPieceCost : 0;
    // The drain waits for a first piece, or for a write's worth.
    const bool wakeDrain =
        pieces.empty() || (pending < kWriteAtOnce && pending + text.size() >= kWriteAtOnce);
    queued += cost;
    pending += text.size();
    pieces.push_back({stream, std::move(text), cost});
    if (wakeDrain) {
      cv.notify_all();
    }
  }

  void Drop(const std::string& text) {
    gapLines += static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n'));
    gapBytes += text.size();
  }

  // Where the output goes on after a gap, the gap is told; one line a gap,
  // and a gap needs the reader to catch up first, so it is not counted.
  void TellGap() {
    if (gapBytes == 0) {
      return;
    }
    Push(Stream::kErr,
         std::string(lastEndsLine ? "" : "\n") +
             "kova-upgrade: warning: " + std::to_string(gapBytes) + " bytes (" +
             std::to_string(gapLines) + " lines) of output dropped: the reader fell behind\n",
         false);
    gapBytes = 0;
    gapLines = 0;
  }

  // False once the reader is gone (EPIPE and the like).
  bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const long n = writer(fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        std::this_thread::sleep_for(kBusyPause);
      } else {
        return false;
      }
    }
    return true;
  }

  void Drain() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      cv.wait(lock, [this] { return !pieces.empty() || finishing; });
      if (pieces.empty()) {
        return;
      }
      cv.wait_for(lock, kGather, [this] { return pending >= kWriteAtOnce || finishing; });
      // The rest of the front piece and the pieces after it that go to the
      // same stream, within one write.
      const Stream stream = pieces.front().stream;
      std::string bytes;
      size_t from = offset;
      for (const Piece& piece : pieces) {
        if (piece.stream != stream || bytes.size() >= kWriteAtOnce) {
          break;
        }
        bytes.append(piece.text, from,
                     std::min(piece.text.size() - from, kWriteAtOnce - bytes.size()));
        from = 0;
      }
      lock.unlock();
      const int fd = static_cast<int>(stream);
      if (!gone[fd] && !WriteAll(fd, bytes)) {
        gone[fd] = true;
      }
      lock.lock();
      for (size_t left = bytes.size(); left > 0;) {
        const Piece& front = pieces.front();
        const size_t rest = front.text.size() - offset;
        if (left < rest) {
          offset += left;
          break;
        }
        left -= rest;
        queued -= front.cost;
        pieces.pop_front();
        offset = 0;
      }
      written += bytes.size();
      pending -= bytes.size();
      cv.notify_all();
    }
  }
};

OutputQueue::OutputQueue(OutputLimits limits, Writer writer) : state_(std::make_shared<State>()) {
  state_->limits = limits;
  state_->writer = writer ? std::move(writer) : Writer(WriteDescriptor);
  // The thread holds the state too: given up on, it may outlive the queue.
  state_->thread = std::thread([state = state_] { state->Drain(); });
}

OutputQueue::~OutputQueue() {
  Finish(std::chrono::milliseconds(0));
}

void OutputQueue::Put(Stream stream, std::string text) {
  if (text.empty()) {
    return;
  }
  State& s = *state_;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.finishing) {
    return;
  }
  // After a gap, nothing is taken until the reader has caught up with half
  // the bound: output that comes and goes would be no use to anyone.
  if (s.gapBytes > 0 && s.queued > s.limits.bytes / 2) {
    s.Drop(text);
    return;
  }
  s.TellGap();
  if (s.queued + text.size() + kPieceCost > s.limits.bytes) {
    s.Drop(text);
    return;
  }
  s.Push(stream, std::move(text));
}

size_t OutputQueue::Waiting() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->queued;
}

bool OutputQueue::Finish(std::chrono::milliseconds stall) {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (!s.thread.joinable()) {
    return s.pieces.empty();
  }
  s.TellGap();
  s.finishing = true;
  s.cv.notify_all();
  uint64_t seen = s.written;
  while (!s.pieces.empty()) {
    if (!s.cv.wait_for(lock, stall, [&s, seen] { return s.pieces.empty() || s.written != seen; })) {
      // Blocked in a write that may never return: the thread is left to
      // the end of the process.
      lock.unlock();
      s.thread.detach();
      return false;
    }
    seen = s.written;
  }
  lock.unlock();
  s.thread.join();
  return true;
}

}  // namespace kova::cli
