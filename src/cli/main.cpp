// kova-upgrade: the upgrade engine without a toolkit, for scripts and
// production lines. Runs one action against one board and exits with its
// result.

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "cli/cli_options.h"
#include "cli/cli_panel.h"
#include "controller/engine.h"
#include "hostnet/adapter_list.h"

namespace kova::cli {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void ListInterfaces() {
  AdapterTable table;
  const int count = Load_AdapterList(table);
  for (int i = 0; i < count; ++i) {
    const auto& ip = table.AdapterIP[i];
    const auto& mac = table.AdapterMAC[i];
    std::printf("%d  %s  %u.%u.%u.%u  %02X:%02X:%02X:%02X:%02X:%02X\n", i,
                table.AdapterDesc[i].c_str(), ip[0], ip[1], ip[2], ip[3], mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  }
}

// The adapter named by -i, by interface name or by its IPv4 address; -1 if none.
int FindInterface(const AdapterTable& table, const std::string& wanted) {
  for (int i = 0; i < table.Count; ++i) {
    if (table.AdapterDesc[i] == wanted) {
      return i;
    }
  }
  in_addr addr{};
  if (inet_pton(AF_INET, wanted.c_str(), &addr) == 1) {
    for (int i = 0; i < table.Count; ++i) {
      if (std::memcmp(table.AdapterIP[i].data(), &addr.s_addr, 4) == 0) {
        return i;
      }
    }
  }
  return -1;
}

// Drives the countdowns as the dialog's timer would.
class Ticker {
 public:
  Ticker(Engine& engine, int tickMs)
      : thread_([this, &engine, tickMs] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!cv_.wait_for(lock, std::chrono::milliseconds(tickMs), [this] { return stop_; })) {
            engine.CountdownTick();
          }
        }) {}
  ~Ticker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

int Run(int argc, char** argv) {
  CliOptions opt;
  std::string error;
  if (!ParseOptions(argc, argv, opt, error)) {
    std::fprintf(stderr, "kova-upgrade: %s\n%s", error.c_str(), UsageText());
    return kExitUsage;
  }
  if (opt.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  if (opt.version) {
    std::printf("kova-upgrade %s\n", KOVA_VERSION);
    return 0;
  }
  if (opt.listInterfaces) {
    ListInterfaces();
    return 0;
  }
  struct stat st {};
  if (!opt.directory.empty() && (stat(opt.directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    std::fprintf(stderr, "kova-upgrade: not a directory: %s\n", opt.directory.c_str());
    return kExitUsage;
  }

  // A reader that goes away (| head) must not kill the process before it has
  // shut the engine down; writes to it simply fail.
  signal(SIGPIPE, SIG_IGN);
  // Signals are taken by the main loop only, never by the engine's threads,
  // and every one of them ends the run through the same shutdown: a dropped
  // terminal or session must not leave the board's neighbour entry behind.
  // A hang-up ignored on start (nohup) stays ignored.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGQUIT);
  struct sigaction hangup {};
  if (sigaction(SIGHUP, nullptr, &hangup) != 0 || hangup.sa_handler != SIG_IGN) {
    sigaddset(&stopSignals, SIGHUP);
  }
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  OperatorInputs inputs;
  inputs.macFields = opt.macFields;
  inputs.ipField = opt.ipField;
  inputs.delayIndex = opt.delayIndex;
  CliPanel panel(inputs, opt.verbose);
  Engine engine(panel, opt.directory);
  engine.LoadAdapters();
  // The boot server's waits follow the tick like every other wait: at the
  // real 100 ms tick they are its own 500 ms, 60 s and 30 s.
  engine.BootServerLimits.waitMs = 5 * opt.tickMs;
  engine.BootServerLimits.requestBound = std::chrono::milliseconds(600 * opt.tickMs);
  engine.BootServerLimits.ackBound = std::chrono::milliseconds(300 * opt.tickMs);
  if (!opt.interface.empty()) {
    const int sel = FindInterface(engine.Adapters, opt.interface);
    if (sel < 0) {
      std::fprintf(stderr, "kova-upgrade: unknown interface: %s\n", opt.interface.c_str());
      return kExitUsage;
    }
    engine.SelectInterface(sel);
  }

  bool interrupted = false;
  {
    Ticker ticker(engine, opt.tickMs);
    engine.StartThreads();
    bool posted = false;
    const timespec poll{0, 10 * 1000 * 1000};
    for (;;) {
      const int sig = sigtimedwait(&stopSignals, nullptr, &poll);
      if (sig > 0) {
        interrupted = true;
        break;
      }
      if (!posted) {
        posted = engine.PostAction(opt.action);
      } else if (engine.OperationsEnded() > 0) {
        break;
      }
    }
    engine.ShutdownAll();
  }
  panel.Finish();
  if (interrupted) {
    return kExitFailed;
  }
  return engine.LastOutcome() == STEP_OK ? 0 : kExitFailed;
}

}  // namespace
}  // namespace kova::cli

int main(int argc, char** argv) {
  return kova::cli::Run(argc, argv);
}
