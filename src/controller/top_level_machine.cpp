#include <algorithm>
#include <tuple>

#include "common/format.h"
#include "config/config_values.h"
#include "controller/engine.h"
#include "controller/operator_input.h"
#include "isp/isp_dialogue.h"
#include "protocol/reply_records.h"

namespace kova {

namespace {

constexpr uint8_t kDelayIdle = 5;
constexpr uint8_t kRecvDelayBusy = 2;
constexpr int32_t kVerCfgFwVerReq = 1;
constexpr int32_t kVerCfgE2pDefault = 6;
constexpr int32_t kVerCfgE2pRead = 7;
constexpr int32_t kEepromGetE2p256 = 29;
constexpr int32_t kEepromGetModelName = 31;
constexpr int32_t kEepromSetModelName = 32;

const char* const kUpgradeCaption = "KOVA Upgrade...";

bool SignatureAt(const SharedBuffers& buf, int32_t offset) {
  return buf.AppImage[offset] == 0xAA && buf.AppImage[offset + 1] == 0x55;
}

bool UpgradeLike(int32_t action) {
  return action == kActionUpgrade || action == kActionDryRun;
}

// What an upgrade of the board just identified would do.
UpgradePlan MakePlan(const Operation& op, int32_t jumpSetting) {
  UpgradePlan plan;
  plan.jumpSetting = jumpSetting;
  plan.newPlatform = op.NewPlatform == 1;
  plan.versionKnown = op.VerCfg.Done == 1;
  plan.version = {op.Buf.DeviceRecord_Get(device_record::kVersion),
                  op.Buf.DeviceRecord_Get(device_record::kVersion + 1)};
  std::copy(op.DeviceMAC, op.DeviceMAC + 6, plan.mac.begin());
  plan.addressKnown = jumpSetting != kJumpRemote;
  std::copy(op.DeviceIP, op.DeviceIP + 4, plan.address.begin());
  plan.imageBytes = static_cast<uint32_t>(std::max<int32_t>(op.Buf.AppImageLen, 0));
  // The old platform's region is always programmed whole.
  const bool isp = jumpSetting != kJumpRemote && !plan.newPlatform;
  plan.bytesToSend = isp ? kIspRegionSize : plan.imageBytes;
  return plan;
}

// The phase the dispatcher's procedure `step` begins, and how much of the
// image it sends; false for a step without a phase of its own.
bool StepPhase(const Operation& e, uint8_t step, OperationPhase& phase, uint32_t& bytes) {
  bytes = 0;
  switch (step) {
    case 0:
      phase = OperationPhase::kJump;
      return true;
    case 1:
      phase = OperationPhase::kWait;
      return true;
    case 3:
      phase = e.NewPlatform != 0 ? OperationPhase::kBootServer : OperationPhase::kErase;
      bytes =
          e.NewPlatform != 0 ? static_cast<uint32_t>(std::max<int32_t>(e.Buf.AppImageLen, 0)) : 0;
      return true;
    case 4:
      phase = OperationPhase::kRemote;
      bytes = static_cast<uint32_t>(std::max<int32_t>(e.Buf.AppImageLen, 0));
      return true;
    default:
      return false;
  }
}

// The old platform's flash takes the first kIspRegionSize bytes of the
// image. Anything past them would be cut silently, so the image is refused
// before the board is touched, unless all of it is erased flash.
bool OldPlatformImageFits(Operation& e) {
  const int32_t length = e.Buf.AppImageLen;
  const auto region = static_cast<int32_t>(kIspRegionSize);
  if (length <= region) {
    return true;
  }
  if (!IspImageFitsRegion(e.Buf.AppImage.get(), length)) {
    e.Log.Say(1, Format("\nApplication firmware (%d bytes) is larger than the flash (%d bytes) !",
                        length, region));
    return false;
  }
  e.Log.Say(0, Format("\nApplication firmware (%d bytes): the %d bytes past the flash (%d bytes) "
                      "are 0xFF and are not programmed !",
                      length, length - region, region));
  return true;
}

}  // namespace

void Engine::IdleStep() {
  // No operation leaves a boot server behind, whatever its procedure did.
  op_.StopBootServer();
  link_.BroadcastSocket_Close();
  link_.UDPSocket_Close();
  if (op_.Entry.StaticArpAdded == 1 && op_.Delete_StaticARP() == 1) {
    op_.Entry.StaticArpAdded = 0;
  }
  if (ControlsLocked == 1) {
    ControlsLocked = 0;
    Log.EnableControls(0);
  }
  SetDelays(kDelayIdle, kDelayIdle);
}

// The top-level machine. One row per state; a failed check goes to
// STEP_FAIL. States 2..15 only run after a front end has posted an action
// (0 -> 2), so Inputs and ActionCode are stable while they read them.
bool Engine::MainStep() {
  const uint8_t state = MainState.load(std::memory_order_acquire);
  // What the machine owns and posts to besides the top-level state: the
  // dispatcher's step, the two request channels, the buttons' lock, and what
  // the idle step releases (the sockets, the neighbour entry).
  const auto record = [this] {
    return std::make_tuple(Dispatcher, op_.VerCfg, op_.Eeprom, ControlsLocked,
                           op_.Entry.StaticArpAdded, link_.BroadcastSocket.open,
                           link_.UDPSocket.open, link_.NetStarted.load());
  };
  const auto before = record();
  uint8_t next = state;
  const int32_t action = ActionCode.load(std::memory_order_relaxed);

  switch (state) {
    case 1:  // thread started
      Log.MsgText = "Created MainThread() ... successful !";
      Log.ClearMessages(1);
      Log.AppendMessage(0, Log.MsgText);
      op_.Entry.StaticArpAdded = 0;
      ControlsLocked = 0;
      op_.Progress = 0;
      link_.Net_Startup();
      SetDelays(kDelayIdle, kDelayIdle);
      next = 0;
      break;

    case 0:  // idle
      IdleStep();
      next = 0;
      break;

    case 2:  // start: configuration and images
      op_.Begin();
      SetDelays(Inputs.delayIndex, kRecvDelayBusy);
      Log.ClearMessages(1);
      op_.EnterPhase(OperationPhase::kLoad);
      if (Load_UpgradeFile() != 1) {
        op_.NoteFailure(FailReason::kLoadFailed);
        next = STEP_FAIL;
        break;
      }
      ControlsLocked = 1;
      Log.EnableControls(1);
      if (run_jumptobootloade_flag != kJumpRemote && action != kActionDryRun) {
        Log.Say(1, "\n======KOVA Firmware Upgrade ... start !======");
      }
      op_.Progress = 0;
      next = 3;
      break;

    case 3: {  // check the operator's input and work out the board's address
      const int32_t count = InterfaceCount.load();
      const int32_t sel = InterfaceSel.load();
      if (ReadMACFields(Inputs.macFields, op_.DeviceMAC) != 1 || count == 0) {
        op_.NoteFailure(FailReason::kBadInput);
        next = STEP_FAIL;
        break;
      }
      op_.BoardMacKnown();
      const bool hostKnown = sel >= 0 && sel < count && sel < AdapterTable::kMaxAdapters;
      switch (action) {
        case kActionUpgrade:
        case kActionDryRun:
        case kActionGetVersion:
        case kActionConfigReset:
          if (!hostKnown) {
            op_.NoteFailure(FailReason::kBadInput);
            next = STEP_FAIL;
            break;
          }
          DeriveDeviceIP(adapters_.AdapterIP[sel].data(), op_.DeviceIP);
          // The remote road learns the board's own address from the board.
          if (!(UpgradeLike(action) && run_jumptobootloade_flag == kJumpRemote)) {
            op_.BoardAddressLearnt();
          }
          if (!UpgradeLike(action)) {
            next = 10;
          } else if (action == kActionUpgrade && run_jumptobootloade_flag == kJumpRemote) {
            next = 4;
          } else if (action == kActionUpgrade && !op_.MayMakeNeighbourEntry()) {
            next = STEP_FAIL;
          } else {
            next = 14;
          }
          break;
        case kActionGetModelName:
        case kActionSetModelName:
        case kActionGetEeprom:
          // An address that does not parse must not send to whatever board
          // the previous operation addressed.
          if (ReadIPField(Inputs.ipField, op_.DeviceIP) == 1) {
            op_.BoardAddressLearnt();
            next = 12;
          } else {
            op_.NoteFailure(FailReason::kBadInput);
            next = STEP_FAIL;
          }
          break;
        default:
          next = STEP_FAIL;
          break;
      }
      break;
    }

    case 14:  // read the platform mark
      op_.EnterPhase(OperationPhase::kIdentify);
      Buf.DeviceRecord_Set(device_record::kE2pAddress, device_record::kPlatformMarkAddress[0]);
      Buf.DeviceRecord_Set(device_record::kE2pAddress + 1, device_record::kPlatformMarkAddress[1]);
      op_.PostVerCfg(kVerCfgE2pRead);
      next = 15;
      break;

    case 15:  // check the platform and the image's signature
      if (op_.VerCfg.State != 0) {
        break;
      }
      if (op_.VerCfg.Done != 1) {
        next = STEP_FAIL;
        break;
      }
      op_.NewPlatform = (Buf.DeviceRecord_Get(device_record::kCheckCode) == 0xAA &&
                         Buf.DeviceRecord_Get(device_record::kCheckCode + 1) == 0x55)
                            ? 1
                            : 0;
      Log.Say(1, Format("\n%s platform", op_.NewPlatform == 1 ? "New" : "Old"));
      Log.MessageBox("... KOVA checkcode");
      if (action == kActionDryRun && run_jumptobootloade_flag == kJumpRemote) {
        next = 16;  // the remote road's image is text: no mark to check
      } else if (!SignatureAt(
                     Buf, op_.NewPlatform == 1 ? kNewPlatformMarkOffset : kOldPlatformMarkOffset)) {
        op_.NoteFailure(FailReason::kBadSignature);
        next = STEP_FAIL;
      } else if (op_.NewPlatform != 1 && !OldPlatformImageFits(op_)) {
        op_.NoteFailure(FailReason::kImageTooLarge);
        next = STEP_FAIL;
      } else if (action == kActionUpgrade && op_.NewPlatform == 1 && !op_.BootServerPortsOpen()) {
        // Found after the jump, this would leave the board in its bootloader.
        next = STEP_FAIL;
      } else {
        next = (action == kActionDryRun) ? 16 : 4;
      }
      break;

    case 16:  // dry run: the board's version
      op_.PostVerCfg(kVerCfgFwVerReq);
      next = 17;
      break;

    case 17:  // dry run: the plan; a board that keeps its version to itself still has one
      if (op_.VerCfg.State != 0) {
        break;
      }
      op_.ClearFailure();
      if (!Log.Barred()) {
        Log.Panel().PlanReady(MakePlan(op_, run_jumptobootloade_flag));
      }
      next = STEP_OK;
      break;

    case 4:  // first upgrade step
      if (Dispatcher.ProcState != 0) {
        break;
      }
      Dispatcher.ProcStep = static_cast<uint8_t>(run_jumptobootloade_flag);
      next = 6;
      break;

    case 6: {  // start the step
      OperationPhase phase{};
      uint32_t bytes = 0;
      if (Dispatcher.ProcState == 0 && StepPhase(op_, Dispatcher.ProcStep, phase, bytes)) {
        op_.EnterPhase(phase, bytes);
      }
      if (Dispatcher.ProcState == 0) {
        Dispatcher.ProcState = 1;
      }
      next = 7;
      break;
    }

    case 7:  // wait for the step
      if (Dispatcher.ProcState != 0) {
        break;
      }
      next = (Dispatcher.ProcDone == 1) ? 8 : STEP_FAIL;
      break;

    case 8:  // choose the next step
      if (Dispatcher.ProcStep == 0) {
        Dispatcher.ProcStep = 1;
      } else if (Dispatcher.ProcStep == 1 || Dispatcher.ProcStep == 2) {
        Dispatcher.ProcStep = 3;
      } else {
        Dispatcher.ProcStep = 5;
      }
      next = 5;
      break;

    case 5:  // more steps?
      next = (Dispatcher.ProcStep < 5) ? 6 : 9;
      break;

    case 9:  // all steps done
      next = STEP_OK;
      break;

    case 10:  // post a version / configuration request
      SetDelays(Inputs.delayIndex, kRecvDelayBusy);
      if (action == kActionGetVersion) {
        op_.PostVerCfg(kVerCfgFwVerReq);
      } else if (action == kActionConfigReset) {
        op_.PostVerCfg(kVerCfgE2pDefault);
      } else {
        next = STEP_FAIL;
        break;
      }
      next = 11;
      break;

    case 11:
      if (op_.VerCfg.State != 0) {
        break;
      }
      next = (op_.VerCfg.Done == 1) ? STEP_OK : STEP_FAIL;
      break;

    case 12:  // post an EEPROM / model-name request
      SetDelays(Inputs.delayIndex, kRecvDelayBusy);
      if (action == kActionGetModelName) {
        op_.PostEeprom(kEepromGetModelName);
      } else if (action == kActionSetModelName) {
        op_.PostEeprom(kEepromSetModelName);
      } else if (action == kActionGetEeprom) {
        op_.PostEeprom(kEepromGetE2p256);
      } else {
        next = STEP_FAIL;
        break;
      }
      next = 13;
      break;

    case 13:
      if (op_.Eeprom.State != 0) {
        break;
      }
      next = (op_.Eeprom.Done == 1) ? STEP_OK : STEP_FAIL;
      break;

    case STEP_OK:
      SetDelays(kDelayIdle, kDelayIdle);
      lastOutcome_ = STEP_OK;
      lastReason_ = static_cast<uint8_t>(FailReason::kNone);
      if (action == kActionUpgrade) {
        Log.MsgText = "\nKOVA firmware upgrade ... Successful !\nPower Restart !";
        Log.MessageBox(kUpgradeCaption);
      }
      next = STEP_END;
      break;

    case STEP_FAIL:
      SetDelays(kDelayIdle, kDelayIdle);
      lastOutcome_ = STEP_FAIL;
      op_.NoteFailure(FailReason::kFailed);
      lastReason_ = static_cast<uint8_t>(op_.Reason());
      if (!Log.Barred()) {
        Log.Panel().OperationFailing(op_.Reason());
      }
      Log.MsgText =
          (action == kActionUpgrade) ? "\nKOVA firmware upgrade ... Failed !" : "\n ... Failed !";
      Log.MessageBox(kUpgradeCaption);
      next = STEP_END;
      break;

    default:  // STEP_END and any value not listed
      IdleStep();
      next = 0;
      if (state == STEP_END) {
        op_.EnterPhase(OperationPhase::kDone);
        if (!Log.Barred()) {
          Log.Panel().OperationEnded(lastOutcome_.load() == STEP_OK, LastReason());
        }
        ++operationsEnded_;
      }
      break;
  }
  SetMainState(state, next);
  return MainState.load(std::memory_order_acquire) != state || record() != before;
}

}  // namespace kova
