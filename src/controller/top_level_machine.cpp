#include "common/format.h"
#include "controller/engine.h"
#include "controller/operator_input.h"
#include "isp/isp_dialogue.h"

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
constexpr int32_t kNewPlatformSignatureOffset = 0x13E;
constexpr int32_t kOldPlatformSignatureOffset = 0x7CFF0;

const char* const kUpgradeCaption = "KOVA Upgrade...";

void PostVerCfg(Engine& e, int32_t op) {
  if (e.VerCfgState == 0) {
    e.VerCfgOp = op;
    e.VerCfgState = 1;
  }
}

void PostEeprom(Engine& e, int32_t op) {
  if (e.EepromState == 0) {
    e.EepromOp = op;
    e.EepromState = 1;
  }
}

bool SignatureAt(const Engine& e, int32_t offset) {
  return e.Buf.AppImage[offset] == 0xAA && e.Buf.AppImage[offset + 1] == 0x55;
}

// The old platform's flash takes the first kIspRegionSize bytes of the
// image. Anything past them would be cut silently, so the image is refused
// before the board is touched, unless all of it is erased flash.
bool OldPlatformImageFits(Engine& e) {
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
  StopBootServer();
  link.BroadcastSocket_Close();
  link.UDPSocket_Close();
  if (StaticArpAdded == 1 && Delete_StaticARP() == 1) {
    StaticArpAdded = 0;
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
void Engine::MainStep() {
  const uint8_t state = MainState.load(std::memory_order_acquire);
  uint8_t next = state;
  const int32_t action = ActionCode.load(std::memory_order_relaxed);

  switch (state) {
    case 1:  // thread started
      Log.MsgText = "Created MainThread() ... successful !";
      Log.ClearMessages(1);
      Log.AppendMessage(0, Log.MsgText);
      StaticArpAdded = 0;
      ControlsLocked = 0;
      Progress = 0;
      link.Net_Startup();
      SetDelays(kDelayIdle, kDelayIdle);
      next = 0;
      break;

    case 0:  // idle
      IdleStep();
      next = 0;
      break;

    case 2:  // start: configuration and images
      SetDelays(Inputs.delayIndex, kRecvDelayBusy);
      Log.ClearMessages(1);
      if (Load_UpgradeFile() != 1) {
        next = STEP_FAIL;
        break;
      }
      ControlsLocked = 1;
      Log.EnableControls(1);
      if (run_jumptobootloade_flag != 4) {
        Log.Say(1, "\n======KOVA Firmware Upgrade ... start !======");
      }
      Progress = 0;
      next = 3;
      break;

    case 3: {  // check the operator's input and work out the board's address
      const int32_t count = InterfaceCount.load();
      const int32_t sel = InterfaceSel.load();
      if (ReadMACFields(Inputs.macFields, DeviceMAC) != 1 || count == 0) {
        next = STEP_FAIL;
        break;
      }
      const bool hostKnown = sel >= 0 && sel < count && sel < AdapterTable::kMaxAdapters;
      switch (action) {
        case kActionUpgrade:
        case kActionGetVersion:
        case kActionConfigReset:
          if (!hostKnown) {
            next = STEP_FAIL;
            break;
          }
          DeriveDeviceIP(Adapters.AdapterIP[sel].data(), DeviceIP);
          if (action != kActionUpgrade) {
            next = 10;
          } else {
            next = (run_jumptobootloade_flag == 4) ? 4 : 14;
          }
          break;
        case kActionGetModelName:
        case kActionSetModelName:
        case kActionGetEeprom:
          // An address that does not parse must not send to whatever board
          // the previous operation addressed.
          next = (ReadIPField(Inputs.ipField, DeviceIP) == 1) ? 12 : STEP_FAIL;
          break;
        default:
          next = STEP_FAIL;
          break;
      }
      break;
    }

    case 14:  // read the platform mark
      Buf.DeviceRecord_Set(13, 0xFE);
      Buf.DeviceRecord_Set(14, 0x02);
      PostVerCfg(*this, kVerCfgE2pRead);
      next = 15;
      break;

    case 15:  // check the platform and the image's signature
      if (VerCfgState != 0) {
        break;
      }
      if (VerCfgDone != 1) {
        next = STEP_FAIL;
        break;
      }
      NewPlatform = (Buf.DeviceRecord_Get(15) == 0xAA && Buf.DeviceRecord_Get(16) == 0x55) ? 1 : 0;
      Log.Say(1, Format("\n%s platform", NewPlatform == 1 ? "New" : "Old"));
      Log.MessageBox("... KOVA checkcode");
      if (!SignatureAt(*this, NewPlatform == 1 ? kNewPlatformSignatureOffset
                                               : kOldPlatformSignatureOffset)) {
        next = STEP_FAIL;
      } else {
        next = (NewPlatform == 1 || OldPlatformImageFits(*this)) ? 4 : STEP_FAIL;
      }
      break;

    case 4:  // first upgrade step
      if (ProcState != 0) {
        break;
      }
      ProcStep = static_cast<uint8_t>(run_jumptobootloade_flag);
      next = 6;
      break;

    case 6:  // start the step
      if (ProcState == 0) {
        ProcState = 1;
      }
      next = 7;
      break;

    case 7:  // wait for the step
      if (ProcState != 0) {
        break;
      }
      next = (ProcDone == 1) ? 8 : STEP_FAIL;
      break;

    case 8:  // choose the next step
      if (ProcStep == 0) {
        ProcStep = 1;
      } else if (ProcStep == 1 || ProcStep == 2) {
        ProcStep = 3;
      } else {
        ProcStep = 5;
      }
      next = 5;
      break;

    case 5:  // more steps?
      next = (ProcStep < 5) ? 6 : 9;
      break;

    case 9:  // all steps done
      next = STEP_OK;
      break;

    case 10:  // post a version / configuration request
      SetDelays(Inputs.delayIndex, kRecvDelayBusy);
      if (action == kActionGetVersion) {
        PostVerCfg(*this, kVerCfgFwVerReq);
      } else if (action == kActionConfigReset) {
        PostVerCfg(*this, kVerCfgE2pDefault);
      } else {
        next = STEP_FAIL;
        break;
      }
      next = 11;
      break;

    case 11:
      if (VerCfgState != 0) {
        break;
      }
      next = (VerCfgDone == 1) ? STEP_OK : STEP_FAIL;
      break;

    case 12:  // post an EEPROM / model-name request
      SetDelays(Inputs.delayIndex, kRecvDelayBusy);
      if (action == kActionGetModelName) {
        PostEeprom(*this, kEepromGetModelName);
      } else if (action == kActionSetModelName) {
        PostEeprom(*this, kEepromSetModelName);
      } else if (action == kActionGetEeprom) {
        PostEeprom(*this, kEepromGetE2p256);
      } else {
        next = STEP_FAIL;
        break;
      }
      next = 13;
      break;

    case 13:
      if (EepromState != 0) {
        break;
      }
      next = (EepromDone == 1) ? STEP_OK : STEP_FAIL;
      break;

    case STEP_OK:
      SetDelays(kDelayIdle, kDelayIdle);
      lastOutcome_ = STEP_OK;
      if (action == kActionUpgrade) {
        Log.MsgText = "\nKOVA firmware upgrade ... Successful !\nPower Restart !";
        Log.MessageBox(kUpgradeCaption);
      }
      next = STEP_END;
      break;

    case STEP_FAIL:
      SetDelays(kDelayIdle, kDelayIdle);
      lastOutcome_ = STEP_FAIL;
      Log.MsgText =
          (action == kActionUpgrade) ? "\nKOVA firmware upgrade ... Failed !" : "\n ... Failed !";
      Log.MessageBox(kUpgradeCaption);
      next = STEP_END;
      break;

    default:  // STEP_END and any value not listed
      IdleStep();
      next = 0;
      if (state == STEP_END) {
        ++operationsEnded_;
      }
      break;
  }
  SetMainState(state, next);
}

}  // namespace kova
