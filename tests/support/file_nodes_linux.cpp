#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "file_nodes.h"

namespace kova::test {

NodeMade MakeFileNode(const std::string& kind, const std::string& path, const std::string& target,
                      std::string& why) {
  const auto made = [](bool ok) { return ok ? NodeMade::kMade : NodeMade::kFailed; };
  if (kind == "fifo") {
    why = "mkfifo failed";
    return made(mkfifo(path.c_str(), 0600) == 0);
  }
  if (kind == "sock") {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
      why = "the socket's path is too long";
      return NodeMade::kFailed;
    }
    path.copy(addr.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool bound =
        fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0) {
      close(fd);
    }
    why = "no UNIX socket";
    return made(bound);
  }
  std::error_code ec;
  std::filesystem::create_symlink(target, path, ec);
  why = "no symbolic link: " + ec.message();
  return made(!ec);
}

struct FifoRelease::State {
  std::vector<std::string> fifos;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  std::thread thread;
};

FifoRelease::FifoRelease(std::vector<std::string> fifos) : state_(new State) {
  state_->fifos = std::move(fifos);
  state_->thread = std::thread([s = state_] {
    std::unique_lock<std::mutex> lock(s->mutex);
    while (!s->fifos.empty() &&
           !s->cv.wait_for(lock, std::chrono::seconds(5), [s] { return s->done; })) {
      for (const std::string& fifo : s->fifos) {
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          close(fd);
        }
      }
    }
  });
}

FifoRelease::~FifoRelease() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->done = true;
  }
  state_->cv.notify_all();
  state_->thread.join();
  delete state_;
}

}  // namespace kova::test
