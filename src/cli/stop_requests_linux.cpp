#include <pthread.h>
#include <signal.h>

#include "cli/stop_requests.h"

namespace kova::cli {

namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGQUIT);
  struct sigaction hangup {};
  if (sigaction(SIGHUP, nullptr, &hangup) != 0 || hangup.sa_handler != SIG_IGN) {
    sigaddset(&set, SIGHUP);
  }
  return set;
}

}  // namespace

StopRequests::StopRequests() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopRequests::~StopRequests() = default;

bool StopRequests::Wait(std::chrono::milliseconds limit) {
  if (requested_) {
    return true;
  }
  const sigset_t set = StopSignals();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
  const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  // The signal is taken by one waiter alone; the others learn of it here.
  if (sigtimedwait(&set, nullptr, &wait) > 0) {
    requested_ = true;
  }
  return requested_;
}

std::string StopRequestsShown() {
  return "a signal";
}

void PrepareStandardStreams() {
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace kova::cli
