#include "common/countdown_slots.h"
#include "common/format.h"
#include "hostnet/static_arp.h"
#include "isp/isp_dialogue.h"
#include "operation/operation.h"
#include "procedures/procedures.h"
#include "protocol/channels.h"
#include "protocol/sockets.h"

namespace kova {

namespace {

constexpr int32_t kNeighbourSettleTicks = 10;  // 1 s
// Longer than the server's own wait for the board's first request; armed
// again whenever the transfer moves.
constexpr int32_t kBootServerBackstopTicks = 1200;  // 2 min
// The ISP bootloader answers on the board's command port.
constexpr uint16_t kIspPort = kBoardCommandPort;
constexpr uint8_t kLastIspStep = 9;
constexpr uint8_t kProgramStep = 7;
// A new attempt waits this long for the bootloader to answer its first
// request again: long enough to restart the board by hand.
constexpr int32_t kBootloaderReturnTicks = 600;  // 60 s

// The procedure's states, in the order it passes through them.
constexpr uint8_t kStart = 1;
constexpr uint8_t kMakeEntry = 2;
constexpr uint8_t kSettle = 3;
constexpr uint8_t kSettling = 4;
constexpr uint8_t kCheckEntry = 5;
constexpr uint8_t kRoad = 6;
constexpr uint8_t kSocketMade = 7;
constexpr uint8_t kDialogue = 8;
constexpr uint8_t kNextStep = 9;
constexpr uint8_t kStepRuns = 10;
constexpr uint8_t kStepDone = 11;
constexpr uint8_t kBootServerRuns = 13;
constexpr uint8_t kWritten = 14;
constexpr uint8_t kAttemptFailed = 15;

// Whether a new attempt from the bootloader may mend what failed: the board
// reached its bootloader, and the dialogue or the transfer broke down, not
// the host (a socket, a port, the neighbour entry) nor the image.
bool MayTryAgain(const Operation& op, bool reachedBootloader) {
  switch (op.Reason()) {
    case FailReason::kFailed:
    case FailReason::kNoReply:
    case FailReason::kUnexpectedReply:
    case FailReason::kResendLimit:
    case FailReason::kTransferStalled:
      return reachedBootloader && op.Attempts.Left > 0;
    default:
      return false;
  }
}

// Where a failed attempt goes: a new one, or the procedure's failure.
uint8_t AttemptFailed(Operation& op, bool reachedBootloader) {
  return MayTryAgain(op, reachedBootloader) ? kAttemptFailed : STEP_FAIL;
}

// New platform: the board's bootloader fetches the image itself from the
// boot server; the procedure waits in kBootServerRuns until the server's
// thread sets UDPDone. The next state.
uint8_t StartBootServer(Operation& op) {
  if (!op.StartBootServer()) {
    op.Log.Say(1, "\n    Boot server ... cannot start ! ");
    op.NoteFailure(FailReason::kFailed);
    return STEP_FAIL;
  }
  op.BootServerProgressSeen = -1;
  op.Countdown.Set(countdown::kBootServerBackstop, kBootServerBackstopTicks);
  return kBootServerRuns;
}

// The server has returned: a server that could not serve the board is no
// success, and the operator is told what stopped it.
uint8_t BootServerEnded(Operation& op) {
  const int exit = op.BootServerExit.load();
  if (exit == 0) {
    return kWritten;
  }
  op.NoteBootServerFailure(exit, op.BootServerOpenError.load());
  // A board that stopped acknowledging had asked for its image.
  return AttemptFailed(op, exit == kBootServerNoAck);
}

// Old platform: the UDP client socket towards the bootloader.
uint8_t OpenIspSocket(Operation& op) {
  if (!UDP_IsIdle(op.link) || UDP_Create(op.link, kIspPort, 0) != 1) {
    op.NoteFailure(FailReason::kSocketFailed);
    return STEP_FAIL;
  }
  return kSocketMade;
}

// What made the dialogue fail: the step's own reason, else its last exchange's.
FailReason IspReason(const Operation& op) {
  if (op.Isp.Reason != FailReason::kNone) {
    return op.Isp.Reason;
  }
  return op.link.LineFailure != FailReason::kNone ? op.link.LineFailure : FailReason::kFailed;
}

// The next attempt, announced. On the old platform the bootloader may still
// sit inside a write command, taking every line as data, which nothing but
// the rest of its data or a restart ends: the attempt's first request is
// sent again until the board answers, restarted if need be.
uint8_t NextAttempt(Operation& op) {
  const FailReason after = op.Reason();
  --op.Attempts.Left;
  ++op.Attempts.Attempt;
  const int attempts = op.Attempts.Attempt + op.Attempts.Left;
  op.Log.Say(1, Format("\n======KOVA : Attempt %d of %d (the last one: %s) ...======",
                       op.Attempts.Attempt, attempts, FailReasonName(after)));
  if (!op.Log.Barred()) {
    op.Log.Panel().AttemptStarted(op.Attempts.Attempt, attempts, after);
  }
  op.ClearFailure();
  op.Progress = 0;
  if (op.NewPlatform != 0) {
    return kRoad;
  }
  op.Log.Say(1, Format("\n    Waiting up to %d s for the bootloader: if it does not answer, "
                       "restart the board into it !",
                       kBootloaderReturnTicks / 10));
  op.Attempts.AwaitBootloader = 1;
  op.Countdown.Set(countdown::kBootloaderReturn, kBootloaderReturnTicks);
  return kDialogue;
}

void AppUpgradeStep(Operation& op) {
  IspDialogue& isp = op.Isp;
  switch (op.Step.Busy) {
    case 0:
      break;
    case kStart:
      op.Log.Say(1, "\n======KOVA : Application firmware upgrade ... Start !======");
      op.Step.Done = 0;
      op.Attempts = AttemptRecord{op.RetriesAllowed, 1, 0};
      op.Step.Busy = (op.SettleEarlierStaticARP() == 1) ? kMakeEntry : STEP_FAIL;
      break;
    case kMakeEntry:
      if (op.Entry.StaticArpAdded != 0) {
        op.Step.Busy = kSettle;
      } else {
        op.Step.Busy = (op.Create_StaticARP() == 1) ? kSettle : STEP_FAIL;
      }
      break;
    case kSettle:
      op.Countdown.Set(countdown::kNeighbourSettle, kNeighbourSettleTicks);
      op.Step.Busy = kSettling;
      break;
    case kSettling:
      if (op.Countdown.Get(countdown::kNeighbourSettle) == 0) {
        op.Step.Busy = kCheckEntry;
      }
      break;
    case kCheckEntry:
      if (op.Entry.StaticArpAdded == 1 &&
          Check_StaticARP(op.Log, op.Neighbours, op.DeviceIP) == 1) {
        // From here on only the board's datagrams reach the dialogue.
        op.link.DeviceIPPinned = 1;
        op.Step.Busy = kRoad;
      } else {
        op.NoteFailure(FailReason::kNeighbourFailed);
        op.Step.Busy = STEP_FAIL;
      }
      break;
    case kRoad:
      if (op.NewPlatform != 0) {
        op.Step.Busy = StartBootServer(op);
      } else {
        op.Step.Busy = OpenIspSocket(op);
      }
      break;
    case kSocketMade:
      if (UDP_IsIdle(op.link)) {
        if (UDP_Result(op.link) == 1) {
          op.Step.Busy = kDialogue;
        } else {
          op.NoteFailure(FailReason::kSocketFailed);
          op.Step.Busy = STEP_FAIL;
        }
      }
      break;
    case kDialogue:
      isp.Reason = FailReason::kNone;
      isp.Image = op.Buf.AppImage.get();
      isp.IspStep = 1;
      op.Step.Busy = kNextStep;
      break;
    case kNextStep:
      if (isp.IspStep > kLastIspStep) {
        isp.IspDone = 1;
        op.Step.Busy = kWritten;
      } else {
        if (isp.IspStep == kProgramStep) {
          op.EnterPhase(OperationPhase::kProgram, kIspRegionSize);
        }
        isp.IspState = 1;
        op.Step.Busy = kStepRuns;
      }
      break;
    case kStepRuns:
      RunIspStep(isp, isp.IspStep);
      if (isp.IspState == 0) {
        if (isp.IspDone == 1) {
          if (isp.IspStep == 1) {
            op.Attempts.AwaitBootloader = 0;  // the bootloader is back
          }
          op.Step.Busy = kStepDone;
        } else if (isp.IspStep == 1 && op.Attempts.AwaitBootloader == 1 &&
                   op.Countdown.Get(countdown::kBootloaderReturn) != 0) {
          op.Step.Busy = kNextStep;  // asked again
        } else {
          op.NoteFailure(IspReason(op));
          op.Step.Busy = AttemptFailed(op, isp.IspStep > 1);
        }
      }
      break;
    case kStepDone:
      isp.IspStep = isp.IspNextStep;
      op.Step.Busy = kNextStep;
      break;
    case kBootServerRuns:
      if (op.BootServerFinished()) {
        op.Step.Busy = BootServerEnded(op);
      } else if (op.Progress.load() != op.BootServerProgressSeen) {
        op.BootServerProgressSeen = op.Progress.load();
        op.Countdown.Set(countdown::kBootServerBackstop, kBootServerBackstopTicks);
      } else if (op.Countdown.Get(countdown::kBootServerBackstop) == 0) {
        op.StopBootServer();
        op.Log.Say(1, "\n    Boot server: no end in sight, stopped ! ");
        op.NoteFailure(FailReason::kTransferStalled);
        op.Step.Busy = AttemptFailed(op, true);
      }
      break;
    case kWritten:
      op.Step.Busy = STEP_OK;
      break;
    case kAttemptFailed:
      op.Step.Busy = NextAttempt(op);
      break;
    case STEP_OK:
      op.Log.Say(1, "Successful !======");
      op.Step.Done = 1;
      op.Step.Busy = STEP_END;
      break;
    case STEP_FAIL:
      op.Log.Say(1, "Failed !======");
      op.Step.Done = 0;
      op.Step.Busy = STEP_END;
      break;
    default:
      op.Step.Busy = 0;
      break;
  }
}

}  // namespace

// Writes AppImage into the board. The board's address is pinned in the
// host's neighbour table first (and left for the idle step to remove, as is
// the socket); then the new platform's boot server serves the image, or the
// old platform's bootloader is taken through its dialogue, step by step.
bool AppUpgrade_Step(Operation& op) {
  const auto before = op.Record();
  AppUpgradeStep(op);
  return op.Record() != before;
}

}  // namespace kova
