#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bootserver/boot_server.h"
#include "common/adapter_table.h"
#include "common/bounded_thread.h"
#include "common/countdown.h"
#include "common/message_log.h"
#include "common/operator_panel.h"
#include "common/shared_buffers.h"
#include "common/step_states.h"
#include "common/wake_event.h"
#include "isp/isp_dialogue.h"
#include "platform/neighbour_table.h"
#include "platform/net_platform.h"
#include "protocol/link.h"

namespace kova {

// Action codes that the front end posts.
enum ActionCodes : int32_t {
  kActionUpgrade = 0,
  kActionGetVersion = 2,
  kActionConfigReset = 3,
  kActionGetModelName = 7,
  kActionSetModelName = 8,
  kActionGetEeprom = 9,
  // The upgrade's checks and the board's version and platform, then the
  // plan of what an upgrade would do; nothing that changes the board.
  kActionDryRun = 10,
};

// "upgrade", "version", ..., "dry-run"; "action N" for any other code.
std::string ActionName(int32_t code);

// Waits that tests shorten: how long shutdown waits for each thread, and how
// often a neighbour entry whose removal keeps failing is tried again.
struct EngineTimings {
  std::chrono::milliseconds joinBound{3000};
  std::chrono::milliseconds neighbourRetryPause{1000};
  // What the destructor grants a thread that missed joinBound before it
  // gives up on it.
  std::chrono::milliseconds finalBound{10000};
};

// The upgrade engine: every operation's state, the machines that run it and
// the worker thread that steps them. A front end owns one engine, posts
// actions to it, drives its tick and shuts it down; everything else happens
// on the worker. Two engines can live in one process.
class Engine {
 public:
  using Machine = std::function<void(Engine&)>;

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

  // Reads the workstation's adapters into the table and selects entry 0.
  void LoadAdapters();
  // The interface choice changed.
  void SelectInterface(int sel);
  // The delay choice changed: takes effect at once only while an operation runs.
  void DelayChoiceChanged(int index);
  // Posts an action if the engine is idle; returns whether it was accepted.
  bool PostAction(int32_t code);
  // One 100 ms tick of the countdowns.
  void CountdownTick() {
    Countdown.CountdownTick();
    Wake.Signal();
  }
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
  bool NeighbourEntryLeft() const { return StaticArpAdded == 1; }

  // --- Worker side ---------------------------------------------------------

  // One worker pass: the top-level step, then one step of every lower machine.
  void RunPass();
  // The top-level state machine's step.
  void MainStep();
  // The idle step: release sockets, the neighbour entry and the buttons.
  void IdleStep();
  void UpdateProgress();
  // The boot server's progress callback: -1 ends its wait, else a percentage.
  void SetBootProgress(int value);
  void SetDelays(int32_t mainDelay, int32_t recvDelay);
  // Starts a request of the version/configuration or the EEPROM machine. A
  // busy machine gets nothing; the waiting state then judges whatever it
  // finishes.
  void PostVerCfg(int32_t op);
  void PostEeprom(int32_t op);

  // Tells the front end that the operation entered `phase`, with the board's
  // MAC and address once they are known.
  void EnterPhase(OperationPhase phase, uint32_t imageBytes = 0);
  // Records why the operation fails; the first reason of an operation stays.
  void NoteFailure(FailReason reason);
  // A neighbour-table call failed with `err`.
  void NoteNeighbourFailure(int err);
  // DeviceIP now holds the board's own address (the remote road asks it).
  void BoardAddressLearnt() { addressKnown_ = true; }

  // The boot server of a new-platform upgrade, on a thread of its own. It is
  // started for this operation's board: DeviceMAC, DeviceIP, AppImage and
  // the selected interface's address and name, read once here. UDPDone is
  // 0 before the thread starts and 1 once the server has returned, with its
  // result in BootServerExit. False, with nothing started, when no
  // interface is selected, a server still runs or shutdown has begun.
  bool StartBootServer();
  // Whether the server has returned; moves the lines it traced into the log.
  bool BootServerFinished();
  // The operator's text for the server's result.
  std::string BootServerResultText() const;
  // Asks a running server to stop and joins its thread within the join
  // bound; true once no server thread is left.
  bool StopBootServer();

  // Operations of the lower layers that the top-level machine calls.
  int Load_UpgradeFile();

  // Installs the board's neighbour entry for DeviceIP / DeviceMAC and records
  // it (StaticArpAdded, StaticArpIP, StaticArpMAC, StaticArpIfIndex); 1 on
  // success.
  int Create_StaticARP();
  // Whether this process may make the board's entry; false after the boxes
  // of a refusal, before an upgrade touches the board.
  bool MayMakeNeighbourEntry();
  // Before an upgrade makes its entry: an entry of an earlier operation that
  // is still installed (its removal kept failing) is kept when it is the one
  // this upgrade would make, else removed now, so that no entry the tool
  // made is ever forgotten. 0 when it could not be removed.
  int SettleEarlierStaticARP();
  // The neighbour entry of the last operation, removed when it ends. A
  // failing removal shows its box once, then retries quietly about once a
  // second, keeping StaticArpAdded set so that shutdown tries again.
  int Delete_StaticARP();

  // --- State ---------------------------------------------------------------

  std::string WorkDir;
  MessageLog Log;
  Countdowns Countdown;
  SharedBuffers Buf;
  AdapterTable Adapters;

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
  std::atomic<int32_t> Progress{0};
  int32_t ProgressShown = 0;
  int32_t ProgressStep = 0;

  // Operation dispatcher and the running procedure's hand-shake.
  uint8_t ProcStep = 0;
  uint8_t ProcState = 0;
  int32_t ProcDone = 0;
  uint8_t StepBusy = 0;
  int32_t StepDone = 0;

  // Maintenance request channels.
  uint8_t VerCfgState = 0;
  int32_t VerCfgOp = 0;
  int32_t VerCfgDone = 0;
  uint8_t EepromState = 0;
  int32_t EepromOp = 0;
  int32_t EepromDone = 0;

  // The board this operation talks to.
  uint8_t DeviceIP[4] = {0, 0, 0, 0};
  uint8_t DeviceMAC[6] = {0, 0, 0, 0, 0, 0};
  int32_t NewPlatform = 0;
  int32_t StaticArpAdded = 0;
  uint8_t StaticArpIP[4] = {0, 0, 0, 0};  // the installed entry's own address
  uint8_t StaticArpMAC[6] = {0, 0, 0, 0, 0, 0};
  int StaticArpIfIndex = 0;  // the interface it was made on, where it is removed

  std::unique_ptr<NetPlatform> Net;
  std::unique_ptr<NeighbourTable> Neighbours;
  // Sockets, receive thread, decoders and channels.
  Link link;
  // The old platform's bootloader dialogue.
  IspDialogue Isp{link, IspProgress{Progress, ProgressStep}};

  // Jump to the bootloader.
  int32_t JumpRetries = 0;

  // Remote update: offsets into AppImage of the S-record line being sent and
  // of its end (the CR, or the image's end for a last line without one), and
  // why the file was refused, if it was.
  int32_t RemoteLine = 0;
  int32_t RemoteLineEnd = 0;
  std::string RemoteRefusal;

  // The lower machines stepped once per pass, and the five upgrade
  // procedures indexed by ProcStep. Tests may replace them with scripts.
  Machine VerCfgMachine;
  Machine EepromMachine;
  Machine LineMachine;
  Machine BroadcastMachine;
  Machine UDPMachine;
  std::array<Machine, 5> Procedures;

  // The worker runs MainThread's passes; the receiver fills the rings.
  BoundedThread Worker;
  BoundedThread Receiver;

  // The boot server's thread (its Quit is the server's stop token), the
  // waits and bounds it runs with (tests shorten them) and its result, -1
  // until a run has returned.
  BoundedThread BootServerThread;
  BootServerParams BootServerLimits;
  std::atomic<int32_t> BootServerExit{-1};
  // Why the server could not open a port (an errno), when it could not.
  std::atomic<int> BootServerOpenError{0};
  int32_t BootServerProgressSeen = -1;  // the backstop is armed again when it moves

 private:
  // One turn of the worker's loop: a pass, then its delay.
  bool MainThread();
  // The state of every machine and how far the decoders have read: a pass
  // that leaves it as it was has found nothing to do.
  using PassFootprint = std::array<uint32_t, 21>;
  PassFootprint Footprint() const;
  // Moves MainState from `from` to `to` unless the front end changed it.
  void SetMainState(uint8_t from, uint8_t to);
  // Removes the neighbour entry and closes the sockets once no thread runs.
  void ReleaseHostState();

  EngineTimings timings_;
  std::string bootServerDevice_;
  int bootWake_ = -1;  // cuts the boot server's wait short when it is stopped
  // Lines the boot server traced, kept until the worker logs them: only the
  // worker reaches the front end.
  std::mutex bootTraceLock_;
  std::vector<std::string> bootTraces_;
  bool releasePending_ = false;
  bool arpDeleteFailing_ = false;
  std::chrono::steady_clock::time_point arpDeleteLastTry_{};
  bool shutDown_ = false;
  std::atomic<int> operationsEnded_{0};
  std::atomic<uint8_t> lastOutcome_{0};
  std::atomic<uint8_t> lastReason_{0};
  // The running operation's: its first failure, and what of the board is known.
  FailReason failReason_ = FailReason::kNone;
  bool macKnown_ = false;
  bool addressKnown_ = false;
};

}  // namespace kova
