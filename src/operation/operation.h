#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "bootserver/boot_server.h"
#include "common/adapter_table.h"
#include "common/bounded_thread.h"
#include "common/countdown.h"
#include "common/message_log.h"
#include "common/operation_events.h"
#include "common/shared_buffers.h"
#include "common/step_states.h"
#include "isp/isp_dialogue.h"
#include "platform/neighbour_table.h"
#include "platform/net_platform.h"
#include "protocol/link.h"

namespace kova {

// Waits of the operation's parts that tests shorten.
struct OperationTimings {
  // How long a stop waits for the boot server's thread.
  std::chrono::milliseconds joinBound{3000};
  // How often a neighbour entry whose removal keeps failing is tried again.
  std::chrono::milliseconds neighbourRetryPause{1000};
};

// A lower machine's request channel: its state byte, the request code and
// the verdict. A requester posts only to an idle channel, the code before
// the state, and reads the verdict once the state is 0 again.
struct RequestChannel {
  uint8_t State = 0;
  int32_t Op = 0;
  int32_t Done = 0;

  bool operator==(const RequestChannel& o) const {
    return State == o.State && Op == o.Op && Done == o.Done;
  }
  bool operator!=(const RequestChannel& o) const { return !(*this == o); }
};

// The procedures' hand-shake with the dispatcher: the running procedure's
// state and its verdict.
struct ProcedureStep {
  uint8_t Busy = 0;
  int32_t Done = 0;

  bool operator==(const ProcedureStep& o) const { return Busy == o.Busy && Done == o.Done; }
  bool operator!=(const ProcedureStep& o) const { return !(*this == o); }
};

// The jump to the bootloader: attempts left.
struct JumpRecord {
  int32_t JumpRetries = 0;

  bool operator==(const JumpRecord& o) const { return JumpRetries == o.JumpRetries; }
  bool operator!=(const JumpRecord& o) const { return !(*this == o); }
};

// The remote update: offsets into AppImage of the S-record line being sent
// and of its end (the CR, or the image's end for a last line without one),
// and why the file was refused, if it was.
struct RemoteRecord {
  int32_t RemoteLine = 0;
  int32_t RemoteLineEnd = 0;
  std::string RemoteRefusal;

  bool operator==(const RemoteRecord& o) const {
    return RemoteLine == o.RemoteLine && RemoteLineEnd == o.RemoteLineEnd &&
           RemoteRefusal == o.RemoteRefusal;
  }
  bool operator!=(const RemoteRecord& o) const { return !(*this == o); }
};

// The application upgrade's attempts: further ones left after this one, the
// one running (from 1), and whether its first bootloader request is sent
// again until the board answers or the wait for its return ends.
struct AttemptRecord {
  int32_t Left = 0;
  int32_t Attempt = 1;
  int32_t AwaitBootloader = 0;

  bool operator==(const AttemptRecord& o) const {
    return Left == o.Left && Attempt == o.Attempt && AwaitBootloader == o.AwaitBootloader;
  }
  bool operator!=(const AttemptRecord& o) const { return !(*this == o); }
};

// The board's neighbour entry as the tool made it: removed by what it was
// made for, and where, even if a later operation addresses another board or
// the route moves before the removal succeeds.
struct StaticArpRecord {
  int32_t StaticArpAdded = 0;
  uint8_t StaticArpIP[4] = {0, 0, 0, 0};
  uint8_t StaticArpMAC[6] = {0, 0, 0, 0, 0, 0};
  int StaticArpIfIndex = 0;
};

// What one operation works on: the board, the two maintenance request
// channels, the procedures' records, the board's neighbour entry and the
// boot server's run, with the link, the countdowns and the log it reaches
// them through. The engine owns one and runs its operations on it; the
// procedures and the maintenance machines take it, never the engine.
class Operation {
 public:
  struct Uses {
    MessageLog& log;
    Countdowns& countdown;
    SharedBuffers& buf;
    Link& link;
    NetPlatform& net;
    NeighbourTable& neighbours;
    const AdapterTable& adapters;
    const std::atomic<int32_t>& interfaceSel;
    const std::atomic<int32_t>& interfaceCount;
    OperationTimings timings;
  };

  // `uses.link` may still be under construction: it is only stored here.
  explicit Operation(const Uses& uses);
  // Stops a boot server that still runs.
  ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // --- Used, not owned -----------------------------------------------------
  MessageLog& Log;
  Countdowns& Countdown;
  SharedBuffers& Buf;
  Link& link;
  NetPlatform& Net;
  NeighbourTable& Neighbours;
  const AdapterTable& Adapters;

  // --- The board -----------------------------------------------------------
  uint8_t DeviceIP[4] = {0, 0, 0, 0};
  uint8_t DeviceMAC[6] = {0, 0, 0, 0, 0, 0};
  int32_t NewPlatform = 0;

  // The gauge's value (0..100) and the programming step's share of it.
  std::atomic<int32_t> Progress{0};
  int32_t ProgressStep = 0;

  // --- Machines' records ---------------------------------------------------
  ProcedureStep Step;
  RequestChannel VerCfg;
  RequestChannel Eeprom;
  JumpRecord Jump;
  RemoteRecord Remote;
  // The old platform's bootloader dialogue.
  IspDialogue Isp{link, IspProgress{Progress, ProgressStep}};
  // The new platform's road: the backstop is armed again when the boot
  // server's progress moves.
  int32_t BootServerProgressSeen = -1;
  // Further attempts an upgrade that failed in the bootloader may make (the
  // front end's choice), and the attempts of the running one.
  int32_t RetriesAllowed = 0;
  AttemptRecord Attempts;

  // What the procedures and the maintenance machines own, as values to
  // compare: their hand-shakes and records, the board as they learn it, the
  // neighbour entry, the gauge, and the requests they post to the link's
  // channels. A step that leaves it as it was found nothing to do.
  auto Record() const {
    return std::tuple_cat(
        std::make_tuple(Step, VerCfg, Eeprom, Jump, Remote, BootServerProgressSeen, Attempts,
                        NewPlatform, BoardBytes(), Entry.StaticArpAdded, Progress.load(),
                        ProgressStep, link.UDPDone.load(), BootServerExit.load()),
        Isp.Record(), link.RequestRecord(), link.LineRecord());
  }

  // Starts a request of the version/configuration or the EEPROM machine. A
  // busy machine gets nothing; the waiting state then judges whatever it
  // finishes.
  void PostVerCfg(int32_t op);
  void PostEeprom(int32_t op);

  // --- The operation's notes -----------------------------------------------
  // A new operation: no failure yet, nothing of the board known, DeviceIP
  // not pinned to it.
  void Begin();
  // Records why the operation fails; the first reason of an operation stays.
  void NoteFailure(FailReason reason);
  // A neighbour-table call failed with the host's error `err`.
  void NoteNeighbourFailure(int err);
  FailReason Reason() const { return failReason_; }
  // A dry run's plan is a success whatever its steps noted.
  void ClearFailure() { failReason_ = FailReason::kNone; }
  // DeviceMAC, and DeviceIP, now hold the board's.
  void BoardMacKnown() { macKnown_ = true; }
  void BoardAddressLearnt() { addressKnown_ = true; }
  // Tells the front end that the operation entered `phase`, with the board's
  // MAC and address once they are known.
  void EnterPhase(OperationPhase phase, uint32_t imageBytes = 0);

  // --- The board's neighbour entry -----------------------------------------
  StaticArpRecord Entry;
  // Installs the board's entry for DeviceIP / DeviceMAC and records it; 1 on
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
  // The entry of the last operation, removed when it ends. A failing removal
  // shows its box once, then retries quietly about once a second, keeping
  // StaticArpAdded set so that shutdown tries again.
  int Delete_StaticARP();
  // At shutdown: one more removal, its box shown unless the idle step has
  // shown it already.
  void ReleaseEntry();
  // For a program that gave up on a worker which never came back and ends
  // now: removes the entry this operation made and has not removed, while
  // that worker may still sit in any call. Nothing is logged and no lock of
  // the engine's is taken. False when an entry stays behind.
  bool RemoveEntryBeforeExit();

  // --- The boot server's run -----------------------------------------------
  // The thread (its Quit is the server's stop token), the waits and bounds
  // it runs with (tests shorten them), and its result: -1 until a run has
  // returned, and why it could not open a port (the host's error number).
  BoundedThread BootServerThread;
  BootServerParams BootServerLimits;
  std::atomic<int32_t> BootServerExit{-1};
  std::atomic<int> BootServerOpenError{0};

  // Started for this operation's board: DeviceMAC, DeviceIP, AppImage and
  // the selected interface's address and name, read once here. UDPDone is 0
  // before the thread starts and 1 once the server has returned. False,
  // with nothing started, when no interface is selected, a server still
  // runs or the log is barred.
  bool StartBootServer();
  // Whether the server has returned; moves the lines it traced into the log.
  bool BootServerFinished();
  // The operator's text for the server's result.
  std::string BootServerResultText() const;
  // Before an upgrade of a new-platform board touches the board: whether the
  // server will be able to open its ports 67 and 69 on the selected
  // interface. Else false, with the lines and the reason of a server that
  // could not open them.
  bool BootServerPortsOpen();
  // A server that could not serve, with `result` (and, for a port it could
  // not open, the host's `openError`): its line, the capability this process
  // lacks when the host refused a port, and the operation's reason.
  void NoteBootServerFailure(int result, int openError);
  // Asks a running server to stop and joins its thread within the join
  // bound; true once no server thread is left.
  bool StopBootServer();
  // The server's progress callback: -1 ends its wait, else a percentage.
  void SetBootProgress(int value);

 private:
  std::array<uint8_t, 10> BoardBytes() const {
    return {DeviceIP[0],  DeviceIP[1],  DeviceIP[2],  DeviceIP[3],  DeviceMAC[0],
            DeviceMAC[1], DeviceMAC[2], DeviceMAC[3], DeviceMAC[4], DeviceMAC[5]};
  }

  const std::atomic<int32_t>& interfaceSel_;
  const std::atomic<int32_t>& interfaceCount_;
  OperationTimings timings_;

  FailReason failReason_ = FailReason::kNone;
  bool macKnown_ = false;
  bool addressKnown_ = false;

  bool arpDeleteFailing_ = false;
  std::chrono::steady_clock::time_point arpDeleteLastTry_{};
  // The entry as made and not yet removed, for RemoveEntryBeforeExit: the
  // interface index in the high half, the address in the low half; 0 when
  // there is none. Kept apart from Entry, which only the worker touches.
  std::atomic<uint64_t> entryMade_{0};
  void NoteEntryRemoved() { entryMade_.store(0, std::memory_order_release); }

  std::string bootServerDevice_;
  int bootWake_ = -1;  // cuts the boot server's wait short when it is stopped
  // Lines the boot server traced, kept until the worker logs them: only the
  // worker reaches the front end.
  std::mutex bootTraceLock_;
  std::vector<std::string> bootTraces_;
};

}  // namespace kova
