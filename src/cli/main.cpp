// kova-upgrade: the upgrade engine without a toolkit, for scripts and
// production lines. Runs one action against one board, or against each of
// a batch in turn, and exits with the result.

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "cli/answer_texts.h"
#include "cli/cli_options.h"
#include "cli/cli_panel.h"
#include "cli/doctor.h"
#include "cli/doctor_host.h"
#include "cli/interfaces.h"
#include "cli/json_line.h"
#include "cli/output_queue.h"
#include "cli/restart_watch.h"
#include "cli/station_file.h"
#include "cli/station_output.h"
#include "cli/stop_requests.h"
#include "config/config_file.h"
#include "config/config_values.h"
#include "controller/engine.h"
#include "frontend/interface_lock.h"
#include "frontend/logging_panel.h"
#include "frontend/operation_log.h"
#include "hostnet/adapter_list.h"
#include "hostnet/neighbour_table.h"
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

// A usage error: what is wrong, and where the whole story is.
int UsageError(const std::string& what) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'\n", kProgram, what.c_str(), kProgram);
  return kExitUsage;
}

// Why -C names no directory: the host's reason when there is nothing to
// look at.
std::string DirectoryProblem(const std::string& path) {
  errno = 0;
  if (!host::IsDirectory(path) && errno != 0) {
    return "not a directory: " + path + ": " + std::strerror(errno);
  }
  return "not a directory: " + path;
}

std::string ProgramPath() {
  const std::string path = host::ExecutablePath();
  return path.empty() ? kProgram : path;
}

// The names of a station's cards as the adapter table has them.
std::vector<std::string> CardNames(const AdapterTable& adapters, const std::vector<int>& sels) {
  std::vector<std::string> names;
  for (const int sel : sels) {
    names.push_back(adapters.AdapterDesc[sel]);
  }
  return names;
}

// The workstation's checks, or with a station each card's in turn, its
// report headed by the card.
int RunDoctor(const CliOptions& opt, const AdapterTable& adapters, const std::vector<int>& sels,
              CliPanel& panel) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<DoctorSetup> setups;
  if (opt.cards.empty()) {
    setups.push_back({opt.interfaceName, opt.directory, ProgramPath(), {}});
  } else {
    const std::vector<std::string> names = CardNames(adapters, sels);
    for (size_t i = 0; i < opt.cards.size(); ++i) {
      const std::string& dir = opt.cards[i].directory;
      setups.push_back({names[i], dir.empty() ? opt.directory : dir, ProgramPath(), names});
    }
  }
  bool all = true;
  for (const DoctorSetup& setup : setups) {
    const std::vector<DoctorCheck> checks = RunDoctorChecks(setup);
    for (const DoctorCheck& c : checks) {
      all = all && c.ok;
    }
    const std::string card = opt.cards.empty() ? "" : setup.interfaceName;
    if (!panel.Json()) {
      panel.Event((card.empty() ? "" : "card " + card + ":\n") + DoctorReport(checks));
      continue;
    }
    for (const DoctorCheck& c : checks) {
      JsonLine line("check");
      if (!card.empty()) {
        line.Str("card", card);
      }
      line.Str("name", c.name).Bool("ok", c.ok).Str("detail", c.detail);
      if (!c.ok) {
        line.Str("fix", c.fix);
      }
      panel.Event(line.Text());
    }
  }
  const int exitCode = all ? 0 : kExitFailed;
  if (panel.Json()) {
    JsonLine result("result");
    result.Bool("ok", all).Int("exit", exitCode);
    if (all) {
      result.Null("reason");
    } else {
      result.Str("reason", "checks-failed");
    }
    result.Seconds(
        "elapsed",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    panel.Event(result.Text());
  }
  if (!all) {
    panel.ErrorLine(FailureLine("checks-failed"));
  }
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
  bool stationCard;  // the board of one card of a station
};

// What one action of an engine came to.
struct ActionResult {
  bool ok = false;
  std::string reason;  // empty on success
  bool entryLeft = false;
};

// One action on the board, with an engine of its own: its own load,
// neighbour entry and clean-up. `panel` hears the engine.
ActionResult RunAction(const Run& run, OperatorPanel& panel, int32_t action, bool& interrupted) {
  ActionResult result;
  // Every board of a station has the same address, so the route to it leads
  // through one card alone: the board's entry, and what the receive path
  // asks about its answers, are on the card it hangs on instead.
  Engine engine(
      panel, run.opt.directory, nullptr,
      run.stationCard ? MakeHostNeighbourTable(InterfaceIndex(run.interfaceName)) : nullptr);
  engine.LoadAdapters();
  // The boot server's waits follow the tick like every other wait: at the
  // real 100 ms tick they are its own 500 ms, 1 s, 60 s and 30 s.
  BootServerParams limits;
  limits.magicPeriod = std::chrono::milliseconds(5 * run.opt.tickMs);
  limits.resendAfter = std::chrono::milliseconds(10 * run.opt.tickMs);
  limits.requestBound = std::chrono::milliseconds(600 * run.opt.tickMs);
  limits.ackBound = std::chrono::milliseconds(300 * run.opt.tickMs);
  engine.SetBootServerLimits(limits);
  if (action == kActionUpgrade) {
    engine.SetRetries(run.opt.retries);
  }
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
        posted = engine.PostAction(action);
      } else if (engine.OperationsEnded() > 0) {
        break;
      }
    }
    engine.ShutdownAll();
  }
  result.ok = !interrupted && engine.LastOutcome() == STEP_OK;
  result.reason =
      interrupted ? "interrupted" : (result.ok ? "" : FailReasonName(engine.LastReason()));
  result.entryLeft = engine.NeighbourEntryLeft();
  return result;
}

// The version the board answers to Get Version, heard alone: the poll's
// messages and boxes are not the operator's.
class VersionProbePanel : public SilentPanel {
 public:
  explicit VersionProbePanel(const OperatorInputs& inputs) : inputs_(inputs) {}
  OperatorInputs ReadInputs() override { return inputs_; }
  void AnswerRead(BoardAnswer kind, const std::vector<uint8_t>& bytes) override {
    if (kind == BoardAnswer::kVersion && bytes.size() >= 2) {
      std::lock_guard<std::mutex> lock(mutex_);
      version_ = VersionText(bytes[0], bytes[1]);
    }
  }
  std::optional<std::string> Version() {
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
  }

 private:
  const OperatorInputs inputs_;
  std::mutex mutex_;
  std::optional<std::string> version_;
};

std::optional<std::string> ReadVersion(const Run& run, const OperatorInputs& inputs,
                                       bool& interrupted) {
  VersionProbePanel probe(inputs);
  const ActionResult result = RunAction(run, probe, kActionGetVersion, interrupted);
  return result.ok ? probe.Version() : std::nullopt;
}

// The version before the upgrade: "bootloader" where the configuration
// says the board waits in it, which answers no version.
std::optional<std::string> VersionBefore(const Run& run, const OperatorInputs& inputs,
                                         bool& interrupted) {
  int32_t jump = kJumpEnable;
  if (ReadJumpSetting(run.opt.directory, jump) && jump == kJumpDisable) {
    return std::string(kVersionInBootloader);
  }
  return ReadVersion(run, inputs, interrupted);
}

// After the upgrade: Get Version every poll period (2 s at the real tick)
// until the board came back with its new firmware or `seconds` have passed.
void WatchRestart(const Run& run, const OperatorInputs& inputs, RestartWatch& watch,
                  bool& interrupted) {
  const auto period = std::chrono::milliseconds(20 * run.opt.tickMs);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(run.opt.verifySeconds);
  run.panel.Note("Waiting up to " + std::to_string(run.opt.verifySeconds) +
                 " s for the board to restart with its new firmware ...");
  for (auto next = std::chrono::steady_clock::now();
       !watch.CameBack() && !interrupted && next < deadline; next += period) {
    while (std::chrono::steady_clock::now() < next) {
      if (run.stop.Wait(std::chrono::milliseconds(10))) {
        interrupted = true;
        return;
      }
    }
    watch.Poll(ReadVersion(run, inputs, interrupted));
  }
}

// One board: the action, and with --verify the versions around it.
BoardOutcome RunBoard(const Run& run, const MacFields& mac, bool& interrupted) {
  BoardOutcome outcome;
  outcome.mac = MacText(mac);
  outcome.ran = true;
  OperatorInputs inputs;
  inputs.macFields = mac;
  inputs.ipField = run.opt.ipField;
  inputs.delayIndex = run.opt.delayIndex;
  run.panel.SetInputs(inputs);
  const bool verify = run.opt.verifySeconds > 0 && run.action == kActionUpgrade;
  const auto started = std::chrono::steady_clock::now();
  std::optional<std::string> before;
  if (verify) {
    before = VersionBefore(run, inputs, interrupted);
    outcome.verified = true;
    outcome.versionBefore = before.value_or("");
  }
  // Verified, the operation ends in the log once the board is back.
  run.logged.Begin({kProgram, run.actionName, run.interfaceName, outcome.mac}, verify);
  if (verify && run.log != nullptr) {
    run.log->Note("version before: " + before.value_or("unknown"));
  }
  if (!interrupted) {
    const ActionResult result = RunAction(run, run.logged, run.action, interrupted);
    outcome.ok = result.ok;
    outcome.reason = result.reason;
    outcome.entryLeft = result.entryLeft;
  } else {
    outcome.reason = "interrupted";
  }
  outcome.address = run.logged.Address();
  if (verify && outcome.ok) {
    run.panel.Finish();
    RestartWatch watch(before);
    WatchRestart(run, inputs, watch, interrupted);
    if (watch.CameBack()) {
      outcome.versionAfter = watch.After();
      if (run.log != nullptr) {
        run.log->Note("version after: " + watch.After());
      }
      run.panel.Note(FirmwareChangeLine(before, watch.After()));
    } else {
      outcome.ok = false;
      outcome.reason = interrupted ? "interrupted" : watch.Reason();
      run.panel.ErrorLine(std::string("the board did not come back with its new firmware (") +
                          outcome.reason + ")");
    }
  }
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (run.log != nullptr) {
    // Ended by a signal, the operation never told the log its end; verified,
    // it is ended here.
    run.log->End(outcome.ok, outcome.reason, outcome.address);
  }
  run.panel.Finish();
  run.panel.Result(outcome, outcome.ok ? 0 : kExitFailed);
  if (!outcome.ok) {
    run.panel.ErrorLine(FailureLine(outcome.reason));
  }
  return outcome;
}

int RunBoards(const Run& run, bool& interrupted, std::vector<BoardOutcome>* outcomes) {
  std::vector<std::string> macs;
  for (const MacFields& mac : run.opt.macs) {
    macs.push_back(MacText(mac));
  }
  const std::vector<BoardOutcome> boards = RunBatch(
      macs, run.opt.keepGoing,
      [&run, &macs](size_t i, bool& stopped) {
        if (macs.size() > 1 && !run.panel.Json()) {
          run.panel.Note(BatchHeader(i, macs.size(), macs[i]));
        }
        return RunBoard(run, run.opt.macs[i], stopped);
      },
      [&run](const std::string& text) { run.panel.Warning(text); }, interrupted);
  const int exitCode = interrupted ? kExitFailed : BatchExitCode(boards);
  if (outcomes != nullptr) {
    *outcomes = boards;
  }
  if (boards.size() > 1) {
    run.panel.Summary(boards, exitCode);
  }
  return exitCode;
}

// The action on every board, with the interface's lock and the log;
// `outcomes`, when given, receives how each board ended; `stationCard`: the
// board of one card of a station.
int Operate(const CliOptions& opt, const AdapterTable& adapters, int sel, CliPanel& panel,
            StopRequests& stop, bool& interrupted, std::vector<BoardOutcome>* outcomes = nullptr,
            bool stationCard = false) {
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
        panel.ErrorLine(FailureLine(refused.reason));
        if (outcomes != nullptr) {
          refused.ran = true;
          refused.mac = opt.macs.empty() ? "" : MacText(opt.macs.front());
          outcomes->assign(1, refused);
        }
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
    // The traces and byte dumps would fill a day's log in a few upgrades.
    log->KeepTraces(opt.verbose);
    if (stationCard) {
      log->NameCard(interfaceName);
    }
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
                opt.dryRun ? "upgrade --dry-run" : opt.actionName,
                stationCard};
  return RunBoards(run, interrupted, outcomes);
}

// A station: the board of each card with an engine, a lock and a log of its
// own, all at the same time; every card runs to its end, a stop request
// stops them all. One summary, a row per card.
int RunStation(const CliOptions& opt, const AdapterTable& adapters, const std::vector<int>& sels,
               OutputQueue& out, CliPanel& panel, StopRequests& stop, bool& interrupted) {
  const size_t count = opt.cards.size();
  const std::vector<std::string> names = CardNames(adapters, sels);
  StationOutput station(out, names, host::IsTerminal(2));
  std::vector<CliOptions> cardOptions(count, opt);
  std::vector<std::unique_ptr<CliPanel>> panels;
  for (size_t i = 0; i < count; ++i) {
    CliOptions& o = cardOptions[i];
    o.cards.clear();
    o.interfaceName = names[i];
    o.macs = {opt.cards[i].mac};
    if (!opt.cards[i].directory.empty()) {
      o.directory = opt.cards[i].directory;
    }
    panels.push_back(std::make_unique<CliPanel>(out, opt.json, opt.verbose, false));
    panels.back()->ForCard(names[i], &station);
  }
  std::vector<std::vector<BoardOutcome>> outcomes(count);
  std::unique_ptr<bool[]> stopped(new bool[count]());
  {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < count; ++i) {
      threads.emplace_back([&, i] {
        Operate(cardOptions[i], adapters, sels[i], *panels[i], stop, stopped[i], &outcomes[i],
                true);
      });
    }
    for (std::thread& t : threads) {
      t.join();
    }
  }
  station.Close();
  std::vector<BoardOutcome> boards;
  interrupted = false;
  for (size_t i = 0; i < count; ++i) {
    BoardOutcome b = outcomes[i].empty() ? BoardOutcome{} : outcomes[i].front();
    b.card = names[i];
    b.mac = MacText(opt.cards[i].mac);
    boards.push_back(b);
    interrupted = interrupted || stopped[i];
  }
  const int exitCode = interrupted ? kExitFailed : BatchExitCode(boards);
  panel.Summary(boards, exitCode);
  return exitCode;
}

// The adapter of each card, checked before anything runs: a usage error
// when one is unknown, named twice, or its folder is not one, and where
// cards need addresses of their own, when two share one.
bool FindCards(const CliOptions& opt, const AdapterTable& adapters, std::vector<int>& sels,
               std::string& error) {
  for (const Card& card : opt.cards) {
    const int sel = FindInterface(adapters, card.interfaceName);
    if (sel < 0) {
      error = "unknown interface: " + card.interfaceName;
      return false;
    }
    for (size_t j = 0; j < sels.size(); ++j) {
      if (sels[j] == sel) {
        error = "duplicate interface: " + std::string(adapters.AdapterDesc[sel]) + " (" +
                opt.cards[j].interfaceName + " and " + card.interfaceName + ")";
        return false;
      }
    }
    sels.push_back(sel);
    if (!card.directory.empty() && !host::IsDirectory(card.directory)) {
      error = DirectoryProblem(card.directory);
      return false;
    }
  }
  if (CardsNeedOwnAddresses()) {
    std::vector<std::string> names;
    std::vector<std::array<uint8_t, 4>> addresses;
    for (size_t i = 0; i < sels.size(); ++i) {
      names.push_back(opt.cards[i].interfaceName);
      addresses.push_back(adapters.AdapterIP[sels[i]]);
    }
    error = SharedAddressProblem(names, addresses);
    return error.empty();
  }
  return true;
}

int Main(int argc, char** argv) {
  PrepareStandardStreams();
  CliOptions opt;
  std::string error;
  if (!ParseOptions(argc, argv, opt, error)) {
    return UsageError(error);
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
    return UsageError(DirectoryProblem(opt.directory));
  }
  AdapterTable adapters;
  Load_AdapterList(adapters);
  const int sel = opt.interfaceName.empty() ? (adapters.Count > 0 ? 0 : -1)
                                            : FindInterface(adapters, opt.interfaceName);
  if (!opt.interfaceName.empty() && sel < 0 && !opt.doctor) {
    return UsageError("unknown interface: " + opt.interfaceName);
  }
  std::vector<int> cardSels;
  if (!FindCards(opt, adapters, cardSels, error)) {
    return UsageError(error);
  }
  // Made before the output's thread, which inherits the signals it blocks.
  std::optional<StopRequests> stop;
  if (!opt.doctor) {
    stop.emplace();
  }
  OutputQueue out;
  CliPanel panel(out, opt.json, opt.verbose, host::IsTerminal(2));
  bool interrupted = false;
  const int exitCode = opt.doctor ? RunDoctor(opt, adapters, cardSels, panel)
                       : !opt.cards.empty()
                           ? RunStation(opt, adapters, cardSels, out, panel, *stop, interrupted)
                           : Operate(opt, adapters, sel, panel, *stop, interrupted);
  out.Finish(interrupted ? kOutputStallWhenStopped : kOutputStallAtEnd);
  return exitCode;
}

}  // namespace
}  // namespace kova::cli

int main(int argc, char** argv) {
  return kova::cli::Main(argc, argv);
}
