#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "bootserver/boot_server.h"
#include "common/action_codes.h"
#include "common/adapter_table.h"
#include "common/bounded_thread.h"
#include "common/countdown.h"
#include "common/message_log.h"
#include "common/operator_panel.h"
#include "common/shared_buffers.h"
#include "common/step_states.h"
#include "common/wake_event.h"
#include "operation/operation.h"
#include "platform/neighbour_table.h"
#include "platform/net_platform.h"
#include "protocol/link.h"

namespace kova {

// Waits that tests shorten: how long shutdown waits for each thread, and how
// often a neighbour entry whose removal keeps failing is tried again.
struct EngineTimings {
  std::chrono::milliseconds joinBound{3000};
  std::chrono::milliseconds neighbourRetryPause{1000};
  // What the destructor grants a thread that missed joinBound before it
  // gives up on it.
  std::chrono::milliseconds finalBound{10000};
};

// The machines a worker pass steps after the top-level one, each returning
// whether anything it owns moved. The engine's own by default; tests may
// put scripts in their place.
struct LowerMachines {
  std::function<bool(Operation&)> VerCfg;
  std::function<bool(Operation&)> Eeprom;
  std::function<bool(Link&)> Line;
  std::function<bool(Link&)> Broadcast;
  std::function<bool(Link&)> UDP;
  // The five upgrade procedures, indexed by the dispatcher's ProcStep.
  std::array<std::function<bool(Operation&)>, 5> Procedures;
};

// The dispatcher's record: the procedure it runs, its state and verdict.
struct DispatcherRecord {
  uint8_t ProcStep = 0;
  uint8_t ProcState = 0;
  int32_t ProcDone = 0;

  bool operator==(const DispatcherRecord& o) const {
    return ProcStep == o.ProcStep && ProcState == o.ProcState && ProcDone == o.ProcDone;
  }
  bool operator!=(const DispatcherRecord& o) const { return !(*this == o); }
};

// The upgrade engine: the worker and receive threads, the top-level machine
// and the dispatcher, and the calls a front end makes. The operation it
// runs, with the board's link, belongs to it; the procedures and the
// maintenance machines work on the operation only. A front end owns one
// engine, posts actions to it, drives its tick and shuts it down;
// everything else happens on the worker. Two engines can live in one
// process.
class Engine {
 public:
  // Allocates the shared buffers and resets every channel. `workDir` is where
  // KOVA_Config.cfg and relative image names are looked up (empty: current).
  // `net` is the socket layer and `neighbours` the host's neighbour table;
  // by default the operating system's.
  explicit Engine(OperatorPanel& panel, std::string workDir = "",
                  std::unique_ptr<NetPlatform> net = nullptr,
                  std::unique_ptr<NeighbourTable> neighbours = nullptr, EngineTimings timings = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // --- Front end side (GUI or CLI main thread) ---------------------------

  // Where the next operation looks for KOVA_Config.cfg and relative image
  // names; only while idle, since the worker reads it during an operation.
  void SetWorkDir(std::string workDir) { WorkDir = std::move(workDir); }
  // Reads the workstation's adapters into the table and selects entry 0.
  void LoadAdapters();
  const AdapterTable& Adapters() const { return adapters_; }
  // The interface choice: its entry count as the front end shows it, and the
  // entry chosen (-1: none).
  void SetInterfaceCount(int32_t count) { InterfaceCount = count; }
  void SelectInterface(int sel);
  int32_t SelectedInterface() const { return InterfaceSel.load(); }
  int32_t InterfaceEntries() const { return InterfaceCount.load(); }
  // The delay choice changed: takes effect at once only while an operation runs.
  void DelayChoiceChanged(int index);
  // Sets the pass delays of the worker and the receive thread.
  void SetDelays(int32_t mainDelay, int32_t recvDelay);
  // The boot server's waits and bounds, for the next new-platform upgrade.
  void SetBootServerLimits(const BootServerParams& limits);
  // Further attempts of an application upgrade that failed once its board
  // was in the bootloader; 0 by default.
  void SetRetries(int retries) { op_.RetriesAllowed = retries; }
  // Posts an action if the engine is idle; returns whether it was accepted.
  bool PostAction(int32_t code);
  // One 100 ms tick of the countdowns.
  void CountdownTick() {
    Countdown.CountdownTick();
    Wake.Signal();
  }
  // Every countdown back to 0, as when the dialog starts.
  void ResetCountdowns() { Countdown.ClearCountdowns(); }
  // Empties the message list.
  void ClearMessages() { Log.ClearMessages(1); }
  // Starts the worker and the receive thread; the worker's first pass runs
  // the start-up state.
  void StartThreads();
  // Ends the worker and the receive thread, then releases what the last
  // operation held: the neighbour entry and the sockets. Safe to repeat.
  void ShutdownAll();

  // Whether no operation runs: the function buttons act only then, since
  // they touch state that the worker owns during an operation.
  bool IsIdle() const { return MainState.load() == 0; }
  // FN2: a trace of the application image.
  void DumpAppImage();
  // FN6: reads the MAC fields and reports the address they give.
  void Get_MACAddres(const std::array<std::string, 6>& fields);
  // FN10: sends the test text on the UDP client socket.
  void SendTestText();

  // Completed operations and the result of the last one (STEP_OK or STEP_FAIL).
  int OperationsEnded() const { return operationsEnded_.load(); }
  uint8_t LastOutcome() const { return lastOutcome_.load(); }
  // Why the last operation failed; kNone after a success.
  FailReason LastReason() const { return static_cast<FailReason>(lastReason_.load()); }
  // After ShutdownAll: whether the last neighbour entry could not be removed.
  bool NeighbourEntryLeft() const { return op_.Entry.StaticArpAdded == 1; }

  // --- Worker side ---------------------------------------------------------

  // One worker pass: the top-level step, then one step of every lower
  // machine; whether any of them moved.
  bool RunPass();
  // The top-level state machine's step; whether it moved.
  bool MainStep();

 private:
  friend class EngineTestAccess;  // tests/support: what tests set up and check

  // The dispatcher: runs procedure ProcStep (0..4) once ProcState has been
  // moved to 1, and reports its verdict in ProcDone.
  //
  //   ProcState 0      idle
  //             1      ProcDone = 0, StepBusy = 1            -> 2
  //             2      a procedure that has ended decides 3 or STEP_FAIL;
  //                    then, same call: ProcStep > 4 fails, else the
  //                    procedure takes one step               -> 2, 3, STEP_FAIL
  //             3                                             -> STEP_OK
  //             STEP_OK / STEP_FAIL  ProcDone = 1 / 0         -> STEP_END
  //             STEP_END, other                               -> 0
  bool RunProcedure();
  // The idle step: release sockets, the neighbour entry and the buttons.
  void IdleStep();
  void UpdateProgress();
  int Load_UpgradeFile();
  // One turn of the worker's loop: a pass, then its delay.
  bool MainThread();
  // Moves MainState from `from` to `to` unless the front end changed it.
  void SetMainState(uint8_t from, uint8_t to);
  // Removes the neighbour entry and closes the sockets once no thread runs.
  void ReleaseHostState();

  std::string WorkDir;
  MessageLog Log;
  Countdowns Countdown;
  SharedBuffers Buf;
  AdapterTable adapters_;

  std::atomic<uint8_t> MainState{1};
  std::atomic<int32_t> ActionCode{0};
  OperatorInputs Inputs;  // snapshot taken when the action was posted
  std::atomic<int32_t> InterfaceSel{0};
  std::atomic<int32_t> InterfaceCount{0};
  std::atomic<int32_t> MainThreadDelay{5};
  // Wakes a worker at delay 0 that found nothing to do.
  WakeEvent Wake;

  int32_t run_jumptobootloade_flag = 0;
  int32_t ControlsLocked = 0;
  int32_t ProgressShown = 0;
  DispatcherRecord Dispatcher;

  std::unique_ptr<NetPlatform> Net;
  std::unique_ptr<NeighbourTable> Neighbours;
  // The operation comes before the link it reaches, which refers to its
  // board and progress; it only stores the link's reference while the link
  // is made.
  Operation op_;
  Link link_;
  LowerMachines machines_;

  // The worker runs MainThread's passes; the receiver fills the rings.
  BoundedThread Worker;
  BoundedThread Receiver;

  EngineTimings timings_;
  bool releasePending_ = false;
  bool shutDown_ = false;
  std::atomic<int> operationsEnded_{0};
  std::atomic<uint8_t> lastOutcome_{0};
  std::atomic<uint8_t> lastReason_{0};
};

}  // namespace kova
