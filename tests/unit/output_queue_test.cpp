#include "cli/output_queue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "step_until.h"

namespace kova::cli {
namespace {

using namespace std::chrono_literals;

// The far end of stdout and stderr: takes everything into one record, each
// stretch of one stream after "1:" or "2:", unless it is held (a reader
// that stopped) or its stdout is gone. Shared with the queue's thread, which
// may outlive a test that gave up on it.
struct Reader {
  std::mutex mutex;
  std::condition_variable cv;
  bool held = false;
  bool stdoutGone = false;
  std::string record;
  int lastFd = 0;

  void Hold(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    held = on;
    cv.notify_all();
  }
  std::string Record() {
    std::lock_guard<std::mutex> lock(mutex);
    return record;
  }
  static OutputQueue::Writer Of(const std::shared_ptr<Reader>& reader) {
    return [reader](int fd, const char* data, size_t size) -> long {
      std::unique_lock<std::mutex> lock(reader->mutex);
      reader->cv.wait(lock, [&] { return !reader->held; });
      if (fd == 1 && reader->stdoutGone) {
        errno = EPIPE;
        return -1;
      }
      if (fd != reader->lastFd) {
        reader->record += std::to_string(fd) + ":";
        reader->lastFd = fd;
      }
      reader->record.append(data, size);
      return static_cast<long>(size);
    };
  }
};

constexpr const char* kNote =
    "2:kova-upgrade: warning: 4 bytes (2 lines) of output dropped: the reader fell behind\n";

TEST(OutputQueueTest, OrderIsKeptAndWhatDidNotFitIsToldWhereItWentMissing) {
  const size_t piece = 2 + OutputQueue::kPieceCost;
  struct Case {
    const char* name;
    size_t limit;
    std::vector<std::pair<Stream, std::string>> whileHeld;
    std::string caughtUp;  // once the reader has read all that was kept
    std::vector<std::pair<Stream, std::string>> after;
    std::string want;
  } cases[] = {
      {"everything fits, both streams in order",
       10 * piece,
       {{Stream::kOut, "a\n"}, {Stream::kErr, "b\n"}, {Stream::kOut, "c\n"}},
       "1:a\n2:b\n1:c\n",
       {{Stream::kOut, "d\n"}},
       "1:a\n2:b\n1:c\nd\n"},
      {"two pieces over the bound: dropped, told before the output goes on",
       3 * piece,
       {{Stream::kOut, "1\n"},
        {Stream::kOut, "2\n"},
        {Stream::kOut, "3\n"},
        {Stream::kOut, "4\n"},
        {Stream::kErr, "5\n"}},
       "1:1\n2\n3\n",
       {{Stream::kOut, "6\n"}},
       std::string("1:1\n2\n3\n") + kNote + "1:6\n"},
      {"a gap still open at the end is told at the end",
       3 * piece,
       {{Stream::kOut, "1\n"},
        {Stream::kOut, "2\n"},
        {Stream::kOut, "3"},
        {Stream::kOut, "4\n"},
        {Stream::kOut, "5\n"}},
       "1:1\n2\n3",
       {},
       std::string("1:1\n2\n3") + "2:\n" + (kNote + 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto reader = std::make_shared<Reader>();
    reader->Hold(true);
    OutputQueue out(OutputLimits{c.limit}, Reader::Of(reader));
    for (const auto& [stream, text] : c.whileHeld) {
      out.Put(stream, text);  // returns although nothing is read
    }
    reader->Hold(false);
    // Caught up once the queue has seen its pieces taken, not only once
    // the reader has them: a piece put in between would still be dropped.
    ASSERT_TRUE(test::WaitFor([&] { return out.Waiting() == 0; }));
    EXPECT_EQ(reader->Record(), c.caughtUp);
    for (const auto& [stream, text] : c.after) {
      out.Put(stream, text);
    }
    EXPECT_TRUE(out.Finish(10s));
    EXPECT_EQ(reader->Record(), c.want);
  }
}

TEST(OutputQueueTest, TheEndWaitsForAReaderThatReadsAndGivesUpOnOneThatStopped) {
  struct Case {
    const char* name;
    bool held;
    bool stdoutGone;
    bool finished;
    std::string want;
  } cases[] = {
      {"a reader that reads gets everything", false, false, true, "1:a\n2:b\n"},
      {"a reader that went away costs only its own stream", false, true, true, "2:b\n"},
      {"a reader that stopped is given up on", true, false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto reader = std::make_shared<Reader>();
    reader->held = c.held;
    reader->stdoutGone = c.stdoutGone;
    {
      OutputQueue out({}, Reader::Of(reader));
      out.Put(Stream::kOut, "a\n");
      out.Put(Stream::kErr, "b\n");
      EXPECT_EQ(out.Finish(c.held ? 50ms : 10s), c.finished);
    }
    EXPECT_EQ(reader->Record(), c.want);
    reader->Hold(false);  // the thread given up on ends with the test
  }
}

}  // namespace
}  // namespace kova::cli
