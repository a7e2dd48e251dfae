#include "common/format.h"
#include "common/step_states.h"
#include "isp/isp_dialogue.h"
#include "isp/isp_step_rows.h"
#include "protocol/line_exchange.h"
#include "protocol/link.h"

namespace kova {

namespace {

constexpr int32_t kFirstErased = 29;  // the last sector of the flash
constexpr int32_t kLastKept = 1;      // sectors 0 and 1 hold the bootloader
constexpr int32_t kProgressPerSector = 3;

// The step's states, in the order it passes through them.
constexpr uint8_t kStart = 1;
constexpr uint8_t kBegin = 2;
constexpr uint8_t kNextSector = 3;
constexpr uint8_t kSector = 4;
constexpr uint8_t kCommand = 5;
constexpr uint8_t kAwait = 6;
constexpr uint8_t kCommandDone = 11;
constexpr uint8_t kSectorDone = 12;
constexpr uint8_t kErased = 13;

int PostCommand(IspDialogue& isp) {
  switch (isp.EraseCmd) {
    case 0:
      return Line_Command(isp.link, "U 23130", {"0\r\n"});
    case 1:
      return Line_Command(isp.link, Format("P %d %d", isp.EraseSector, isp.EraseSectorEnd),
                          {"0\r\n"});
    default:
      return Line_Command(isp.link, Format("E %d %d", isp.EraseSector, isp.EraseSectorEnd),
                          {"0\r\n"});
  }
}

}  // namespace

// (6) Erases the application region one sector at a time, from 29 down to 2,
// each with unlock, prepare and erase; 84 exchanges. The gauge shows 3 % a
// sector and 100 at the end.
void RunIspEraseStep(IspDialogue& isp) {
  switch (isp.IspState) {
    case 0:
      break;
    case kStart:
      isp.link.Log.Say(1, "\n======(6). Erase ... ");
      isp.progress.ProgressStep = 0;
      isp.progress.Progress = 0;
      isp.IspDone = 0;
      isp.IspState = kBegin;
      break;
    case kBegin:
      isp.link.Log.Say(0, "\n    Erase sector for application flash !");
      isp.EraseSector = kFirstErased;
      isp.EraseSectorEnd = kFirstErased;
      isp.IspState = kNextSector;
      break;
    case kNextSector:
      isp.IspState = (isp.EraseSector <= kLastKept) ? kErased : kSector;
      break;
    case kSector:
      isp.link.Log.Say(
          0, Format("\n    Erase sector %d to %d !", isp.EraseSector, isp.EraseSectorEnd));
      isp.EraseCmd = 0;
      isp.IspState = kCommand;
      break;
    case kCommand:
      if (isp.EraseCmd >= 0 && isp.EraseCmd <= 2) {
        IspPosted(isp, PostCommand(isp), kAwait);
      } else {
        isp.IspState = kSectorDone;
      }
      break;
    case kAwait: {
      const int reply = IspExchangeOutcome(isp);
      if (reply != kExchangeRunning) {
        isp.IspState = (reply == kExchangeFailed) ? STEP_FAIL : kCommandDone;
      }
      break;
    }
    case kCommandDone:
      isp.EraseCmd += 1;
      isp.IspState = kCommand;
      break;
    case kSectorDone:
      isp.progress.ProgressStep += kProgressPerSector;
      isp.progress.Progress = isp.progress.ProgressStep;
      isp.EraseSector -= 1;
      isp.EraseSectorEnd = isp.EraseSector;
      isp.IspState = kNextSector;
      break;
    case kErased:
      isp.progress.ProgressStep = 100;
      isp.progress.Progress = 100;
      isp.IspNextStep = 7;
      isp.IspState = STEP_OK;
      break;
    case STEP_OK:
      IspStepOk(isp, true);
      break;
    case STEP_FAIL:
      IspStepFail(isp);
      break;
    default:
      isp.IspState = 0;
      break;
  }
}

}  // namespace kova
