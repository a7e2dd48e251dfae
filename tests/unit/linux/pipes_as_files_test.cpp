// Linux only: FIFOs, character devices and sockets in the places of files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/mac_file.h"
#include "file_nodes.h"
#include "frontend/operation_log.h"
#include "temp_dir.h"

namespace kova {
namespace {

using namespace std::chrono_literals;

// The writer end of a FIFO: opened (waiting for the reader), `text` written,
// then closed at once or held open, silent, until the object goes. A reader
// that went away costs it EPIPE, not the test's process.
class FifoWriter {
 public:
  FifoWriter(std::string path, std::string text, bool holdOpen)
      : thread_([this, path = std::move(path), text = std::move(text), holdOpen] {
          sigset_t pipe;
          sigemptyset(&pipe);
          sigaddset(&pipe, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
          fd_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
          if (fd_ >= 0 && !text.empty()) {
            static_cast<void>(!write(fd_, text.data(), text.size()));
          }
          if (fd_ >= 0 && !holdOpen) {
            close(fd_);
            fd_ = -1;
          }
        }) {}
  ~FifoWriter() {
    thread_.join();
    if (fd_ >= 0) {
      close(fd_);
    }
  }

 private:
  int fd_ = -1;
  std::thread thread_;
};

TEST(MacFileTest, ARegularFileOrAPipeIsReadWithinItsBoundsAndNothingElse) {
  enum Writer { kNone, kCloses, kStaysSilent };
  struct Case {
    const char* kind;  // "file", "fifo", "dir", "sock", or a path of its own
    Writer writer;
    std::string content;
    std::string want;  // the text read, or "error: " and the usage error
  } cases[] = {
      {"file", kNone, "00:1A:2B:3C:4D:5E\n", "00:1A:2B:3C:4D:5E\n"},
      {"fifo", kCloses, "00:1A:2B:3C:4D:5E\n", "00:1A:2B:3C:4D:5E\n"},
      {"fifo", kStaysSilent, "00:1A", "error: the MAC file did not end within 0.2 s: @"},
      {"fifo", kNone, "", "error: the MAC file did not end within 0.2 s: @"},
      {"fifo", kCloses, "00:1A:2B:3C:4D:5E\n00:1A:2B",
       "error: the MAC file is larger than 24 bytes: @"},
      {"file", kNone, "00:1A:2B:3C:4D:5E\n00:1A:2B",
       "error: the MAC file is larger than 24 bytes: @"},
      {"dir", kNone, "", "error: the MAC file is neither a regular file nor a pipe: @"},
      {"sock", kNone, "", "error: the MAC file is neither a regular file nor a pipe: @"},
      {"/dev/zero", kNone, "", "error: the MAC file is neither a regular file nor a pipe: @"},
      {"/nonexistent/macs", kNone, "",
       "error: cannot read the MAC file: @: No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.want);
    test::TempDir dir;
    std::string path = dir.path() + "/macs";
    const std::string kind = c.kind;
    std::string why;
    if (kind == "file") {
      std::ofstream(path, std::ios::binary) << c.content;
    } else if (kind == "fifo" || kind == "sock") {
      ASSERT_EQ(test::MakeFileNode(kind, path, "", why), test::NodeMade::kMade) << why;
    } else if (kind == "dir") {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    } else {
      path = kind;
    }
    std::string text;
    std::string error;
    bool ok = false;
    {
      const auto writer = c.writer == kNone ? nullptr
                                            : std::make_unique<FifoWriter>(
                                                  path, c.content, c.writer == kStaysSilent);
      ok = cli::ReadMacFile(path, text, error, cli::MacFileBounds{24, 200ms});
      if (c.writer != kNone) {
        // A writer that came too late for the read is let go.
        close(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
      }
    }
    std::string want = c.want;
    if (want.rfind("error: ", 0) == 0) {
      want = want.substr(7);
      want.replace(want.find('@'), 1, path);
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, want);
    } else {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(text, want);
    }
  }
}

// Comes by after a while and holds the FIFO open for reading, unless told
// before that it is not needed: a writer's open that waits for a reader
// then fails the test instead of hanging it.
class LateReader {
 public:
  explicit LateReader(std::string path)
      : thread_([this, path = std::move(path)] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, std::chrono::seconds(2), [this] { return done_; })) {
            fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
          }
        }) {}
  ~LateReader() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
    if (fd_ >= 0) {
      close(fd_);
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  int fd_ = -1;
  std::thread thread_;
};

// The log never waits for a reader: a FIFO, with a reader or without, is no
// place for it, nor is a device; it warns once and the operation goes on.
TEST(OperationLogFileTest, ALogTakesOnlyARegularFile) {
  for (const std::string kind : {"fifo without a reader", "fifo with a reader", "/dev/null"}) {
    SCOPED_TRACE(kind);
    test::TempDir dir;
    std::string path = dir.path() + "/bench.log";
    std::string why;
    int reader = -1;
    if (kind.rfind("fifo", 0) == 0) {
      ASSERT_EQ(test::MakeFileNode("fifo", path, "", why), test::NodeMade::kMade) << why;
      if (kind == "fifo with a reader") {
        reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
      }
    } else {
      path = kind;
    }
    std::vector<std::string> warnings;
    {
      const auto late = reader < 0 ? std::make_unique<LateReader>(path) : nullptr;
      auto log = OperationLog::ToFile(path, [&](const std::string& w) { warnings.push_back(w); });
      log->Begin({"kova-upgrade", "version", "eth1", "00:1A:2B:3C:4D:5E"});
      log->Message("\nsomething");
      log->End(true, "", "");
    }
    if (reader >= 0) {
      char byte;
      EXPECT_LE(read(reader, &byte, 1), 0) << "the log wrote into the FIFO";
      close(reader);
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0],
              "cannot write the log " + path + ": not a regular file; operations are not logged");
  }
}

}  // namespace
}  // namespace kova
