// kova-upgrade: the upgrade engine without a toolkit, for scripts and
// production lines. Runs one action against one board, or against each of
// a batch in turn, and exits with the result.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/cli_options.h"
#include "cli/cli_panel.h"
#include "cli/doctor.h"
#include "cli/interfaces.h"
#include "cli/json_line.h"
#include "cli/output_queue.h"
#include "cli/stop_requests.h"
#include "controller/engine.h"
#include "frontend/interface_lock.h"
#include "frontend/logging_panel.h"
#include "frontend/operation_log.h"
#include "hostnet/adapter_list.h"
#include "platform/host_files.h"

namespace kova::cli {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr const char* kProgram = "kova-upgrade";
// How long the output's reader may take nothing before the program ends
// without the rest: at the end of a run, and after a stop request, which
// should end it about as soon as the engine's threads.
constexpr auto kOutputStallAtEnd = std::chrono::seconds(10);
constexpr auto kOutputStallWhenStopped = std::chrono::seconds(2);

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

std::string ProgramPath() {
  const std::string path = host::ExecutablePath();
  return path.empty() ? kProgram : path;
}

int RunDoctor(const CliOptions& opt, CliPanel& panel) {
  const auto started = std::chrono::steady_clock::now();
  const std::vector<DoctorCheck> checks =
      RunDoctorChecks({opt.interfaceName, opt.directory, ProgramPath()});
  bool all = true;
  for (const DoctorCheck& c : checks) {
    all = all && c.ok;
  }
  const int exitCode = all ? 0 : kExitFailed;
  if (!panel.Json()) {
    panel.Event(DoctorReport(checks));
    return exitCode;
  }
  for (const DoctorCheck& c : checks) {
    JsonLine line("check");
    line.Str("name", c.name).Bool("ok", c.ok).Str("detail", c.detail);
    if (!c.ok) {
      line.Str("fix", c.fix);
    }
    panel.Event(line.Text());
  }
  JsonLine result("result");
  result.Bool("ok", all).Int("exit", exitCode);
  if (all) {
    result.Null("reason");
  } else {
    result.Str("reason", "checks-failed");
  }
  result.Seconds("elapsed",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  panel.Event(result.Text());
  return exitCode;
}

struct Run {
  const CliOptions& opt;
  CliPanel& panel;
  LoggingPanel& logged;
  OperationLog* log;
  StopRequests& stop;
  std::string interfaceName;
  int32_t action;
  std::string actionName;
};

// One board, with an engine of its own: its own load, neighbour entry and
// clean-up.
BoardOutcome RunBoard(const Run& run, const MacFields& mac, bool& interrupted) {
  BoardOutcome outcome;
  outcome.mac = MacText(mac);
  outcome.ran = true;
  OperatorInputs inputs;
  inputs.macFields = mac;
  inputs.ipField = run.opt.ipField;
  inputs.delayIndex = run.opt.delayIndex;
  run.panel.SetInputs(inputs);
  run.logged.Begin({kProgram, run.actionName, run.interfaceName, outcome.mac});
  const auto started = std::chrono::steady_clock::now();
  {
    Engine engine(run.logged, run.opt.directory);
    engine.LoadAdapters();
    // The boot server's waits follow the tick like every other wait: at the
    // real 100 ms tick they are its own 500 ms, 1 s, 60 s and 30 s.
    BootServerParams limits;
    limits.magicPeriod = std::chrono::milliseconds(5 * run.opt.tickMs);
    limits.resendAfter = std::chrono::milliseconds(10 * run.opt.tickMs);
    limits.requestBound = std::chrono::milliseconds(600 * run.opt.tickMs);
    limits.ackBound = std::chrono::milliseconds(300 * run.opt.tickMs);
    engine.SetBootServerLimits(limits);
    if (!run.opt.interfaceName.empty()) {
      // An interface that went away since the start selects nothing.
      engine.SelectInterface(FindInterface(engine.Adapters(), run.opt.interfaceName));
    }
    {
      Ticker ticker(engine, run.opt.tickMs);
      engine.StartThreads();
      bool posted = false;
      for (;;) {
        if (run.stop.Wait(std::chrono::milliseconds(10))) {
          interrupted = true;
          break;
        }
        if (!posted) {
          posted = engine.PostAction(run.action);
        } else if (engine.OperationsEnded() > 0) {
          break;
        }
      }
      engine.ShutdownAll();
    }
    outcome.ok = !interrupted && engine.LastOutcome() == STEP_OK;
    outcome.reason =
        interrupted ? "interrupted" : (outcome.ok ? "" : FailReasonName(engine.LastReason()));
    outcome.entryLeft = engine.NeighbourEntryLeft();
  }
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  outcome.address = run.logged.Address();
  if (run.log != nullptr) {
    // Ended by a signal, the operation never told the log its end.
    run.log->End(false, outcome.reason, outcome.address);
  }
  run.panel.Finish();
  run.panel.Result(outcome, outcome.ok ? 0 : kExitFailed);
  return outcome;
}

int RunBoards(const Run& run, bool& interrupted) {
  std::vector<std::string> macs;
  for (const MacFields& mac : run.opt.macs) {
    macs.push_back(MacText(mac));
  }
  const std::vector<BoardOutcome> boards = RunBatch(
      macs, run.opt.keepGoing,
      [&run](size_t i, bool& stopped) { return RunBoard(run, run.opt.macs[i], stopped); },
      [&run](const std::string& text) { run.panel.Warning(text); }, interrupted);
  const int exitCode = interrupted ? kExitFailed : BatchExitCode(boards);
  if (boards.size() > 1) {
    run.panel.Summary(boards, exitCode);
  }
  return exitCode;
}

// The action on every board, with the interface's lock and the log.
int Operate(const CliOptions& opt, const AdapterTable& adapters, int sel, CliPanel& panel,
            StopRequests& stop, bool& interrupted) {
  const std::string interfaceName = sel >= 0 ? adapters.AdapterDesc[sel] : "";
  InterfaceLock lock;
  if (!interfaceName.empty()) {
    std::string detail;
    switch (lock.Take(interfaceName, kProgram, detail)) {
      case InterfaceLock::Outcome::kTaken:
        break;
      case InterfaceLock::Outcome::kHeld: {
        panel.ErrorLine(interfaceName + " is in use by " + detail +
                        "; one operation per interface at a time");
        BoardOutcome refused;
        refused.reason = "interface-busy";
        panel.Result(refused, kExitFailed);
        return kExitFailed;
      }
      case InterfaceLock::Outcome::kUnavailable:
        panel.Warning("no lock for " + interfaceName + " (" + detail +
                      "): nothing keeps a second instance off it");
        break;
    }
  }

  // A log that cannot be written says so once, from whichever thread found it.
  const OperationLog::Warning warn = [&panel](const std::string& text) { panel.Warning(text); };
  std::unique_ptr<OperationLog> log;
  if (!opt.noLog) {
    log = opt.logFile.empty()
              ? std::make_unique<OperationLog>(OperationLog::DefaultDirectory(), LogLimits{}, warn)
              : OperationLog::ToFile(opt.logFile, warn);
  }
  LoggingPanel logged(panel, log.get());
  panel.SetPlanContext({interfaceName, opt.tickMs});
  const Run run{opt,
                panel,
                logged,
                log.get(),
                stop,
                interfaceName,
                opt.dryRun ? static_cast<int32_t>(kActionDryRun) : opt.action,
                opt.dryRun ? "upgrade --dry-run" : opt.actionName};
  return RunBoards(run, interrupted);
}

int Main(int argc, char** argv) {
  PrepareStandardStreams();
  CliOptions opt;
  std::string error;
  if (!ParseOptions(argc, argv, opt, error)) {
    std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(), UsageText());
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
  if (!opt.directory.empty() && !host::IsDirectory(opt.directory)) {
    std::fprintf(stderr, "%s: not a directory: %s\n", kProgram, opt.directory.c_str());
    return kExitUsage;
  }
  AdapterTable adapters;
  Load_AdapterList(adapters);
  const int sel = opt.interfaceName.empty() ? (adapters.Count > 0 ? 0 : -1)
                                            : FindInterface(adapters, opt.interfaceName);
  if (!opt.interfaceName.empty() && sel < 0 && !opt.doctor) {
    std::fprintf(stderr, "%s: unknown interface: %s\n", kProgram, opt.interfaceName.c_str());
    return kExitUsage;
  }
  // Made before the output's thread, which inherits the signals it blocks.
  std::optional<StopRequests> stop;
  if (!opt.doctor) {
    stop.emplace();
  }
  OutputQueue out;
  CliPanel panel(out, opt.json, opt.verbose, host::IsTerminal(2));
  bool interrupted = false;
  const int exitCode =
      opt.doctor ? RunDoctor(opt, panel) : Operate(opt, adapters, sel, panel, *stop, interrupted);
  out.Finish(interrupted ? kOutputStallWhenStopped : kOutputStallAtEnd);
  return exitCode;
}

}  // namespace
}  // namespace kova::cli

int main(int argc, char** argv) {
  return kova::cli::Main(argc, argv);
}
