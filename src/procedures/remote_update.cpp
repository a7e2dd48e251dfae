#include <algorithm>
#include <cstring>

#include "common/countdown_slots.h"
#include "common/format.h"
#include "operation/operation.h"
#include "procedures/procedures.h"
#include "procedures/srecord_image.h"
#include "protocol/command_tables.h"
#include "protocol/reply_records.h"

namespace kova {

namespace {

constexpr int32_t kFinishTicks = 1200;  // 120 s from the first status request
constexpr int32_t kPollTicks = 100;     // 10 s between status requests
constexpr int kAddressBytes = 4;
constexpr uint8_t kArgumentEnd = 0xFF;
static_assert(kSRecordLineMax < static_cast<int32_t>(sizeof(Link::UDPCmdArgs)),
              "a line and its end byte fit the argument area");

// The procedure's states, in the order it passes through them.
constexpr uint8_t kStart = 1;
constexpr uint8_t kAskAddress = 2;
constexpr uint8_t kAddress = 3;
constexpr uint8_t kErase = 4;
constexpr uint8_t kErased = 5;
constexpr uint8_t kSendFirst = 6;
constexpr uint8_t kFirstSent = 7;
constexpr uint8_t kSendLine = 8;
constexpr uint8_t kLineSent = 9;
constexpr uint8_t kInstall = 10;
constexpr uint8_t kInstalled = 11;
constexpr uint8_t kAskFinish = 12;
constexpr uint8_t kAwaitFinish = 13;

SRecordText ImageOf(const Operation& op) {
  return {op.Buf.AppImage.get(), op.Buf.AppImageLen};
}

bool Acknowledged(const Operation& op) {
  return op.Eeprom.Done != 0 && op.Buf.UDPReply_Get(udp_reply::kRemoteAck) == 1;
}

// Whether the command the unicast machine has finished went without its
// acknowledgement; noted as the failure (a silent board the machine has
// noted already).
bool Unacknowledged(Operation& op) {
  if (Acknowledged(op)) {
    return false;
  }
  op.NoteFailure(FailReason::kUnexpectedReply);
  return true;
}

// Puts the line at RemoteLine into the SEND_FILE argument, 0xFF after it,
// and posts the command.
void SendLine(Operation& op) {
  const SRecordText t = ImageOf(op);
  op.Remote.RemoteLineEnd = t.LineEnd(op.Remote.RemoteLine);
  if (op.Eeprom.State != 0) {
    return;  // the next state judges what the busy machine finishes
  }
  const int32_t n = std::min(op.Remote.RemoteLineEnd - op.Remote.RemoteLine, kSRecordLineMax);
  std::memcpy(op.link.UDPCmdArgs, t.bytes + op.Remote.RemoteLine, static_cast<size_t>(n));
  op.link.UDPCmdArgs[n] = kArgumentEnd;
  op.PostEeprom(udp_cmd::kSendFile);
}

// The final wait: a status request every 10 s until one is acknowledged,
// for at most 120 s.
uint8_t AwaitFinish(Operation& op) {
  if (op.Countdown.Get(countdown::kRemoteFinish) == 0) {
    // The bound holds whatever the unicast machine is doing; a status
    // request still awaiting its answer ends with the wait.
    op.Countdown.Set(countdown::kUnicastReply, 0);
    op.NoteFailure(FailReason::kNoReply);
    return STEP_FAIL;
  }
  if (op.Eeprom.State != 0) {
    return kAwaitFinish;
  }
  // An acknowledgement counts even when countdown 2 ran out while the
  // machine was closing its socket.
  if (Acknowledged(op)) {
    return STEP_OK;
  }
  if (op.Countdown.Get(countdown::kUnicastReply) == 0) {
    op.PostEeprom(udp_cmd::kCheckRemoteUpdate);
    op.Countdown.Set(countdown::kUnicastReply, kPollTicks);
  }
  return kAwaitFinish;
}

void RemoteUpdateStep(Operation& op) {
  switch (op.Step.Busy) {
    case 0:
      break;
    case kStart: {
      op.Log.Say(1, "\n======KOVA : Remote firmware update ... Start !======");
      op.Step.Done = 0;
      const SRecordText t = ImageOf(op);
      const SRecordRefusal refusal = CheckSRecordFile(t);
      if (refusal.why != nullptr) {
        op.Remote.RemoteRefusal =
            Format("\n    Firmware file line %d: %s !", t.LineNumber(refusal.at), refusal.why);
        op.NoteFailure(FailReason::kBadInput);
        op.Step.Busy = STEP_FAIL;
      } else {
        op.Remote.RemoteRefusal.clear();
        op.Step.Busy = kAskAddress;
      }
      break;
    }
    case kAskAddress:
      op.PostVerCfg(broadcast_cmd::kEthReq);
      op.Step.Busy = kAddress;
      op.Log.Say(1, "\n======KOVA : Retrieve remote IP ... ");
      break;
    case kAddress:
      if (op.VerCfg.State != 0) {
        break;
      }
      if (op.VerCfg.Done == 0) {
        op.Log.Say(1, "Fail !======");
        op.NoteFailure(FailReason::kNoReply);
        op.Step.Busy = STEP_FAIL;
        break;
      }
      for (int i = 0; i < kAddressBytes; ++i) {
        op.DeviceIP[i] = op.Buf.DeviceRecord_Get(i);
      }
      op.BoardAddressLearnt();
      // The answer came from the address it reports, which is the board's
      // (the receive thread takes no other): the commands' replies must too.
      op.link.DeviceIPPinned = 1;
      op.Log.Say(1, Format("%d.%d.%d.%d !======", op.DeviceIP[0], op.DeviceIP[1], op.DeviceIP[2],
                           op.DeviceIP[3]));
      op.Step.Busy = kErase;
      break;
    case kErase:
      op.PostEeprom(udp_cmd::kRemoteErase);
      op.Step.Busy = kErased;
      op.Log.Say(1, "\n======KOVA : Erase remote FLASH ... ");
      break;
    case kErased:
      if (op.Eeprom.State != 0) {
        break;
      }
      if (Unacknowledged(op)) {
        op.Step.Busy = STEP_FAIL;
        break;
      }
      op.Log.Say(1, "Successful !======");
      op.Remote.RemoteLine = 0;
      op.Remote.RemoteLineEnd = 0;
      op.Step.Busy = kSendFirst;
      break;
    case kSendFirst:
      SendLine(op);
      op.Step.Busy = kFirstSent;
      op.Log.Say(1, "\n======KOVA : Send file to remote ... ");
      break;
    case kFirstSent:
      if (op.Eeprom.State != 0) {
        break;
      }
      if (Unacknowledged(op)) {
        op.Step.Busy = STEP_FAIL;
        break;
      }
      op.Remote.RemoteLine = ImageOf(op).NextRecord(op.Remote.RemoteLineEnd);
      op.Step.Busy = kSendLine;
      break;
    case kSendLine:
      SendLine(op);
      op.Step.Busy = kLineSent;
      break;
    case kLineSent: {
      if (op.Eeprom.State != 0) {
        break;
      }
      if (Unacknowledged(op)) {
        op.Step.Busy = STEP_FAIL;
        break;
      }
      const SRecordText t = ImageOf(op);
      if (!SRecordTransferGoesOn(t, op.Remote.RemoteLine)) {
        op.Log.Say(1, "Successful !======");
        op.Step.Busy = kInstall;
        break;
      }
      op.Progress =
          static_cast<int32_t>(static_cast<int64_t>(op.Remote.RemoteLine) * 100 / t.length);
      op.Remote.RemoteLine = t.NextRecord(op.Remote.RemoteLineEnd);
      op.Step.Busy = kSendLine;
      break;
    }
    case kInstall:
      op.PostEeprom(udp_cmd::kRemoteUpdate);
      op.Step.Busy = kInstalled;
      op.Log.Say(1, "\n======KOVA : Update remote firmware ... ");
      break;
    case kInstalled:
      if (op.Eeprom.State != 0) {
        break;
      }
      if (Unacknowledged(op)) {
        op.Step.Busy = STEP_FAIL;
        break;
      }
      op.Log.Say(1, "Successful !======");
      op.Step.Busy = kAskFinish;
      break;
    case kAskFinish:
      op.PostEeprom(udp_cmd::kCheckRemoteUpdate);
      op.Step.Busy = kAwaitFinish;
      op.Log.Say(1, "\n======KOVA : Wait for remote finish ... ");
      op.Countdown.Set(countdown::kRemoteFinish, kFinishTicks);
      break;
    case kAwaitFinish:
      op.Step.Busy = AwaitFinish(op);
      break;
    case STEP_OK:
      op.Log.Say(1, "Successful !======");
      op.Step.Done = 1;
      op.Step.Busy = STEP_END;
      break;
    case STEP_FAIL:
      op.Log.Say(1, "Failed !======");
      if (!op.Remote.RemoteRefusal.empty()) {
        op.Log.Say(1, op.Remote.RemoteRefusal);
        op.Remote.RemoteRefusal.clear();
      }
      op.link.BroadcastSocket_Close();
      op.Step.Busy = STEP_END;
      break;
    default:
      op.Step.Busy = 0;
      break;
  }
}

}  // namespace

// Hands a running board its new firmware as S-record text: learns the
// board's address, has it erase its flash, sends the file line by line,
// tells it to install what it received and polls until it has.
bool RemoteUpdate_Step(Operation& op) {
  const auto before = op.Record();
  RemoteUpdateStep(op);
  return op.Record() != before;
}

}  // namespace kova
