#include "common/countdown_slots.h"
#include "controller/engine.h"
#include "hostnet/capabilities.h"
#include "hostnet/static_arp.h"
#include "isp/isp_dialogue.h"
#include "platform/host_errors.h"
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

// States, numbered as the procedure's table counts them.
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

// New platform: the board's bootloader fetches the image itself from the
// boot server; the procedure waits in kBootServerRuns until the server's
// thread sets UDPDone. The next state.
uint8_t StartBootServer(Engine& e) {
  if (!e.StartBootServer()) {
    e.Log.Say(1, "\n    Boot server ... cannot start ! ");
    e.NoteFailure(FailReason::kFailed);
    return STEP_FAIL;
  }
  e.BootServerProgressSeen = -1;
  e.Countdown.Set(countdown::kBootServerBackstop, kBootServerBackstopTicks);
  return kBootServerRuns;
}

FailReason BootServerReason(int result, int openError) {
  switch (result) {
    case kBootServerNoBootpSocket:
    case kBootServerNoTftpSocket:
      if (openError == host_error::kAddressInUse) {
        return FailReason::kPortInUse;
      }
      return host_error::Denied(openError) ? FailReason::kPortDenied : FailReason::kSocketFailed;
    case kBootServerNoMagicSocket:
    case kBootServerNoTransferPort:
      return FailReason::kSocketFailed;
    case kBootServerNoRequest:
      return FailReason::kNoReply;
    case kBootServerNoAck:
      return FailReason::kTransferStalled;
    default:
      return FailReason::kFailed;
  }
}

// The server has returned: a server that could not serve the board is no
// success, and the operator is told what stopped it.
uint8_t BootServerEnded(Engine& e) {
  if (e.BootServerExit.load() == 0) {
    return kWritten;
  }
  e.NoteFailure(BootServerReason(e.BootServerExit.load(), e.BootServerOpenError.load()));
  e.Log.Say(1, "\n    " + e.BootServerResultText() + " ! ");
  const int exit = e.BootServerExit.load();
  if ((exit == kBootServerNoBootpSocket || exit == kBootServerNoTftpSocket) &&
      !e.Neighbours->HoldsCapability(kCapNetBindService)) {
    e.Log.AppendMessage(1, MissingCapabilityText(kCapNetBindService));
  }
  return STEP_FAIL;
}

// Old platform: the UDP client socket towards the bootloader.
uint8_t OpenIspSocket(Engine& e) {
  if (!UDP_IsIdle(e.link) || UDP_Create(e.link, kIspPort, 0) != 1) {
    e.NoteFailure(FailReason::kSocketFailed);
    return STEP_FAIL;
  }
  return kSocketMade;
}

// What made the dialogue fail: the step's own reason, else its last exchange's.
FailReason IspReason(const Engine& e) {
  if (e.Isp.Reason != FailReason::kNone) {
    return e.Isp.Reason;
  }
  return e.link.LineFailure != FailReason::kNone ? e.link.LineFailure : FailReason::kFailed;
}

}  // namespace

// Writes AppImage into the board. The board's address is pinned in the
// host's neighbour table first (and left for the idle step to remove, as is
// the socket); then the new platform's boot server serves the image, or the
// old platform's bootloader is taken through its dialogue, step by step.
void AppUpgrade_Step(Engine& e) {
  IspDialogue& isp = e.Isp;
  switch (e.StepBusy) {
    case 0:
      break;
    case kStart:
      e.Log.Say(1, "\n======KOVA : Application firmware upgrade ... Start !======");
      e.StepDone = 0;
      e.StepBusy = (e.SettleEarlierStaticARP() == 1) ? kMakeEntry : STEP_FAIL;
      break;
    case kMakeEntry:
      if (e.StaticArpAdded != 0) {
        e.StepBusy = kSettle;
      } else {
        e.StepBusy = (e.Create_StaticARP() == 1) ? kSettle : STEP_FAIL;
      }
      break;
    case kSettle:
      e.Countdown.Set(countdown::kNeighbourSettle, kNeighbourSettleTicks);
      e.StepBusy = kSettling;
      break;
    case kSettling:
      if (e.Countdown.Get(countdown::kNeighbourSettle) == 0) {
        e.StepBusy = kCheckEntry;
      }
      break;
    case kCheckEntry:
      if (e.StaticArpAdded == 1 && Check_StaticARP(e.Log, *e.Neighbours, e.DeviceIP) == 1) {
        e.StepBusy = kRoad;
      } else {
        e.NoteFailure(FailReason::kNeighbourFailed);
        e.StepBusy = STEP_FAIL;
      }
      break;
    case kRoad:
      if (e.NewPlatform != 0) {
        e.StepBusy = StartBootServer(e);
      } else {
        e.StepBusy = OpenIspSocket(e);
      }
      break;
    case kSocketMade:
      if (UDP_IsIdle(e.link)) {
        if (UDP_Result(e.link) == 1) {
          e.StepBusy = kDialogue;
        } else {
          e.NoteFailure(FailReason::kSocketFailed);
          e.StepBusy = STEP_FAIL;
        }
      }
      break;
    case kDialogue:
      isp.Reason = FailReason::kNone;
      isp.Image = e.Buf.AppImage.get();
      isp.IspStep = 1;
      e.StepBusy = kNextStep;
      break;
    case kNextStep:
      if (isp.IspStep > kLastIspStep) {
        isp.IspDone = 1;
        e.StepBusy = kWritten;
      } else {
        if (isp.IspStep == kProgramStep) {
          e.EnterPhase(OperationPhase::kProgram, kIspRegionSize);
        }
        isp.IspState = 1;
        e.StepBusy = kStepRuns;
      }
      break;
    case kStepRuns:
      RunIspStep(isp, isp.IspStep);
      if (isp.IspState == 0) {
        if (isp.IspDone == 1) {
          e.StepBusy = kStepDone;
        } else {
          e.NoteFailure(IspReason(e));
          e.StepBusy = STEP_FAIL;
        }
      }
      break;
    case kStepDone:
      isp.IspStep = isp.IspNextStep;
      e.StepBusy = kNextStep;
      break;
    case kBootServerRuns:
      if (e.BootServerFinished()) {
        e.StepBusy = BootServerEnded(e);
      } else if (e.Progress.load() != e.BootServerProgressSeen) {
        e.BootServerProgressSeen = e.Progress.load();
        e.Countdown.Set(countdown::kBootServerBackstop, kBootServerBackstopTicks);
      } else if (e.Countdown.Get(countdown::kBootServerBackstop) == 0) {
        e.StopBootServer();
        e.Log.Say(1, "\n    Boot server: no end in sight, stopped ! ");
        e.NoteFailure(FailReason::kTransferStalled);
        e.StepBusy = STEP_FAIL;
      }
      break;
    case kWritten:
      e.StepBusy = STEP_OK;
      break;
    case STEP_OK:
      e.Log.Say(1, "Successful !======");
      e.StepDone = 1;
      e.StepBusy = STEP_END;
      break;
    case STEP_FAIL:
      e.Log.Say(1, "Failed !======");
      e.StepDone = 0;
      e.StepBusy = STEP_END;
      break;
    default:
      e.StepBusy = 0;
      break;
  }
}

}  // namespace kova
