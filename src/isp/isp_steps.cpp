#include <string>

#include "common/format.h"
#include "common/step_states.h"
#include "isp/isp_dialogue.h"
#include "isp/isp_step_rows.h"
#include "protocol/line_exchange.h"
#include "protocol/link.h"

namespace kova {

namespace {

constexpr uint8_t kStart = 1;
constexpr uint8_t kPost = 2;
constexpr uint8_t kAwait = 3;
constexpr uint8_t kPostSecond = 4;
constexpr uint8_t kAwaitSecond = 5;

constexpr const char* kPartId = "637615927\r\n";

// The three forms of the bootloader's version reply, tested in this order.
enum VersionForm : int { kSecondVersion = 0, kThirdVersion = 1, kFirstVersion = 2 };

int MatchVersion(const uint8_t* line, int32_t length) {
  if (length == 6 && line[0] == 'V' && line[2] == '.' && line[4] == '\r' && line[5] == '\n') {
    return kSecondVersion;
  }
  if (length == 9 && line[0] == 'B' && line[1] == 'L' && line[3] == '.' && line[7] == '\r' &&
      line[8] == '\n') {
    return kThirdVersion;
  }
  if (length == 3 && line[0] == '1' && line[1] == '\r' && line[2] == '\n') {
    return kFirstVersion;
  }
  return -1;
}

// A character of the board's reply, as the message list may show it.
char Shown(uint8_t byte) {
  return (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '?';
}

std::string VersionText(int form, const uint8_t* line) {
  switch (form) {
    case kSecondVersion:
      return Format("\n           Bootloader is 2nd version(v%d.%d) !", line[1], line[3]);
    case kThirdVersion:
      return Format("\n           Bootloader is 3rd version(v%c.%c%c%c) !", Shown(line[2]),
                    Shown(line[4]), Shown(line[5]), Shown(line[6]));
    default:
      return "\n           Bootloader is 1st version(50 pcs) !";
  }
}

void EndRows(IspDialogue& isp, bool showVerdict) {
  switch (isp.IspState) {
    case STEP_OK:
      IspStepOk(isp, showVerdict);
      break;
    case STEP_FAIL:
      IspStepFail(isp);
      break;
    default:
      isp.IspState = 0;
      break;
  }
}

// (1) "?": "1" means already synchronised, so step 2 is skipped.
void UpgradeRequest(IspDialogue& isp) {
  switch (isp.IspState) {
    case 0:
      break;
    case kStart:
      isp.link.Log.Say(1, "\n======(1). Upgrade request ... ");
      isp.IspDone = 0;
      isp.IspState = kPost;
      break;
    case kPost:
      IspPosted(isp, Line_Command(isp.link, "?", {"1\r\n", "Synchronized\r\n"}), kAwait);
      break;
    case kAwait: {
      const int reply = IspExchangeOutcome(isp);
      if (reply == kExchangeRunning) {
        break;
      }
      if (reply == kExchangeFailed) {
        isp.IspState = STEP_FAIL;
        break;
      }
      isp.IspNextStep = (reply == 0) ? 3 : 2;
      isp.IspState = STEP_OK;
      break;
    }
    default:
      EndRows(isp, true);
      break;
  }
}

// (2) "Synchronized" answered "OK".
void UpgradeSynchronized(IspDialogue& isp) {
  switch (isp.IspState) {
    case 0:
      break;
    case kStart:
      isp.link.Log.Say(1, "\n======(2). Upgrade synchronized ... ");
      isp.IspDone = 0;
      isp.IspState = kPost;
      break;
    case kPost:
      IspPosted(isp, Line_Command(isp.link, "Synchronized", {"OK\r\n"}), kAwait);
      break;
    case kAwait: {
      const int reply = IspExchangeOutcome(isp);
      if (reply == kExchangeRunning) {
        break;
      }
      if (reply == kExchangeFailed) {
        isp.IspState = STEP_FAIL;
        break;
      }
      isp.IspNextStep = 3;
      isp.IspState = STEP_OK;
      break;
    }
    default:
      EndRows(isp, true);
      break;
  }
}

// (3) and (4) "J": "0", then the part identification in a line of its own.
void DeviceIdentify(IspDialogue& isp, int step) {
  switch (isp.IspState) {
    case 0:
      break;
    case kStart:
      isp.link.Log.Say(1, Format("\n======(%d). Device identify request ...", step));
      isp.IspDone = 0;
      isp.IspState = kPost;
      break;
    case kPost:
      IspPosted(isp, Line_Command(isp.link, "J", {"0\r\n"}), kAwait);
      break;
    case kAwait: {
      const int reply = IspExchangeOutcome(isp);
      if (reply != kExchangeRunning) {
        isp.IspState = (reply == kExchangeFailed) ? STEP_FAIL : kPostSecond;
      }
      break;
    }
    case kPostSecond:
      IspPosted(isp, Line_Collect(isp.link, {kPartId}), kAwaitSecond);
      break;
    case kAwaitSecond: {
      const int reply = IspExchangeOutcome(isp);
      if (reply == kExchangeRunning) {
        break;
      }
      if (reply == kExchangeFailed) {
        isp.IspState = STEP_FAIL;
        break;
      }
      isp.IspNextStep = static_cast<uint8_t>(step + 1);
      isp.IspState = STEP_OK;
      break;
    }
    default:
      EndRows(isp, true);
      break;
  }
}

// (5) "b": the version reply is shown on a line of its own, in place of a
// verdict.
void BootloaderVersion(IspDialogue& isp) {
  switch (isp.IspState) {
    case 0:
      break;
    case kStart:
      isp.link.Log.Say(1, "\n======(5). Bootloader firmware version request ...");
      isp.IspDone = 0;
      isp.IspState = kPost;
      break;
    case kPost:
      IspPosted(isp, Line_Command(isp.link, "b", MatchVersion), kAwait);
      break;
    case kAwait: {
      const int reply = IspExchangeOutcome(isp);
      if (reply == kExchangeRunning) {
        break;
      }
      if (reply == kExchangeFailed) {
        isp.IspState = STEP_FAIL;
        break;
      }
      isp.link.Log.Say(1, VersionText(reply, isp.link.Buf.UDPMessage.get()));
      isp.IspNextStep = 6;
      isp.IspState = STEP_OK;
      break;
    }
    default:
      EndRows(isp, false);
      break;
  }
}

// (8), (9), (10): nothing is sent; each names the next number.
void EmptyStep(IspDialogue& isp, int step) {
  switch (isp.IspState) {
    case 0:
      break;
    case kStart:
      isp.IspDone = 0;
      isp.IspState = 2;
      break;
    case 2:
      isp.IspNextStep = static_cast<uint8_t>(step + 1);
      isp.IspState = STEP_OK;
      break;
    default:
      EndRows(isp, false);
      break;
  }
}

}  // namespace

void IspStepOk(IspDialogue& isp, bool showVerdict) {
  if (showVerdict) {
    isp.link.Log.Say(1, "Successful !======");
  }
  isp.IspDone = 1;
  isp.IspState = STEP_END;
}

void IspStepFail(IspDialogue& isp) {
  isp.link.Log.Say(1, "Failed !======");
  isp.IspDone = 0;
  isp.IspState = STEP_END;
}

void IspPosted(IspDialogue& isp, int accepted, uint8_t wait) {
  isp.IspState = (accepted == 1) ? wait : STEP_FAIL;
}

int IspExchangeOutcome(const IspDialogue& isp) {
  if (!Line_IsIdle(isp.link)) {
    return kExchangeRunning;
  }
  if (Line_Result(isp.link) != 1) {
    return kExchangeFailed;
  }
  return Line_Matched(isp.link);
}

void RunIspStep(IspDialogue& isp, int step) {
  switch (step) {
    case 1:
      UpgradeRequest(isp);
      break;
    case 2:
      UpgradeSynchronized(isp);
      break;
    case 3:
    case 4:
      DeviceIdentify(isp, step);
      break;
    case 5:
      BootloaderVersion(isp);
      break;
    case 6:
      RunIspEraseStep(isp);
      break;
    case 7:
      RunIspProgramStep(isp);
      break;
    case 8:
    case 9:
    case 10:
      EmptyStep(isp, step);
      break;
    default:
      break;
  }
}

bool IspImageFitsRegion(const uint8_t* image, int32_t length) {
  for (int32_t i = static_cast<int32_t>(kIspRegionSize); i < length; ++i) {
    if (image[i] != 0xFF) {
      return false;
    }
  }
  return true;
}

}  // namespace kova
