#include "common/countdown_slots.h"
#include "common/format.h"
#include "common/hex_digit.h"
#include "maintenance/maintenance_machines.h"
#include "operation/operation.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"
#include "protocol/reply_records.h"

namespace kova {

namespace {

constexpr int32_t kReplyTicks = 20;  // 2 s
constexpr int32_t kLastRequest = broadcast_cmd::kE2pRead;
constexpr int kMacLength = 6;

constexpr uint8_t kUnset = 0xFF;

// Running states; the end states are the shared STEP_OK, STEP_FAIL, STEP_END.
constexpr uint8_t kStart = 1;
constexpr uint8_t kPrepare = 2;
constexpr uint8_t kCreate = 3;
constexpr uint8_t kCreated = 4;
constexpr uint8_t kSend = 5;
constexpr uint8_t kSent = 6;
constexpr uint8_t kArm = 7;
constexpr uint8_t kAwaitReply = 8;
constexpr uint8_t kClose = 9;
constexpr uint8_t kClosed = 10;
constexpr uint8_t kAct = 11;

uint8_t SocketFailed(Operation& op) {
  op.NoteFailure(FailReason::kSocketFailed);
  return STEP_FAIL;
}

// Clears what the reply of the request sets, so that a reply to an earlier
// exchange cannot complete this one.
void Prepare(Operation& op, int32_t request) {
  switch (request) {
    case broadcast_cmd::kEthReq:
      for (int i = 0; i < 4; ++i) {
        op.Buf.DeviceRecord_Set(device_record::kAddress + i, kUnset);
      }
      op.link.EthReqAnswered = 0;
      break;
    case broadcast_cmd::kFwVerReq:
      op.Buf.DeviceRecord_Set(device_record::kVersionFlag, 0);
      op.Buf.DeviceRecord_Set(device_record::kVersion, kUnset);
      op.Buf.DeviceRecord_Set(device_record::kVersion + 1, kUnset);
      break;
    case broadcast_cmd::kE2pDefault:
      op.Buf.DeviceRecord_Set(device_record::kDefaultAck, 0);
      break;
    case broadcast_cmd::kE2pRead:
      // Both check-code bytes: a short reply must not leave an earlier board's
      // second byte to decide the platform.
      op.Buf.DeviceRecord_Set(device_record::kE2pData, kUnset);
      op.Buf.DeviceRecord_Set(device_record::kE2pData + 1, kUnset);
      op.link.BroadcastCmdArgs[kMacLength] = op.Buf.DeviceRecord_Get(device_record::kE2pAddress);
      op.link.BroadcastCmdArgs[kMacLength + 1] =
          op.Buf.DeviceRecord_Get(device_record::kE2pAddress + 1);
      op.link.E2pReadAnswered = 0;
      break;
    default:
      break;
  }
}

// Whether the reply has arrived. The address and the record read are judged
// by the handler's flags, not by their bytes: 255 is a valid octet, and an
// erased record byte is a valid answer from an old-platform board.
bool Completed(const Operation& op, int32_t request) {
  switch (request) {
    case broadcast_cmd::kEthReq:
      return op.link.EthReqAnswered == 1;
    case broadcast_cmd::kFwVerReq:
      return op.Buf.DeviceRecord_Get(device_record::kVersionFlag) == 1;
    case broadcast_cmd::kE2pDefault:
      return op.Buf.DeviceRecord_Get(device_record::kDefaultAck) == 1;
    case broadcast_cmd::kE2pRead:
      return op.link.E2pReadAnswered == 1;
    default:
      return false;  // requests without a reply end by time-out
  }
}

void Act(Operation& op, int32_t request) {
  switch (request) {
    case broadcast_cmd::kEthReq:
      for (int i = 0; i < 4; ++i) {
        op.DeviceIP[i] = op.Buf.DeviceRecord_Get(device_record::kAddress + i);
      }
      break;
    case broadcast_cmd::kFwVerReq: {
      const uint8_t major = op.Buf.DeviceRecord_Get(device_record::kVersion);
      const uint8_t minor = op.Buf.DeviceRecord_Get(device_record::kVersion + 1);
      op.Log.Say(1, Format("\nKOVA Application firmware is v%c.%c%c%c !", HexHigh(major),
                           HexLow(major), HexHigh(minor), HexLow(minor)));
      if (!op.Log.Barred()) {
        op.Log.Panel().AnswerRead(BoardAnswer::kVersion, {major, minor});
      }
      op.Log.MessageBox("... KOVA firmware version");
      break;
    }
    case broadcast_cmd::kE2pDefault:
      op.Log.Say(1, "\nKOVA Configuration default !");
      op.Log.MessageBox("... KOVA Configuare");
      break;
    default:
      break;
  }
}

void VerCfgStep(Operation& op) {
  const int32_t request = op.VerCfg.Op;
  switch (op.VerCfg.State) {
    case 0:
      break;
    case kStart:
      op.VerCfg.Done = 0;
      op.VerCfg.State = kPrepare;
      break;
    case kPrepare:
      if (request < 0 || request > kLastRequest) {
        op.VerCfg.State = STEP_FAIL;
        break;
      }
      Prepare(op, request);
      op.Buf.BroadcastCmdIndex = request;
      for (int i = 0; i < kMacLength; ++i) {
        op.link.BroadcastCmdArgs[i] = op.DeviceMAC[i];
      }
      op.VerCfg.State = kCreate;
      break;
    case kCreate:
      if (Broadcast_Create(op.link) == 1) {
        op.VerCfg.State = kCreated;
      }
      break;
    case kCreated:
      if (Broadcast_IsIdle(op.link)) {
        op.VerCfg.State = Broadcast_Result(op.link) == 1 ? kSend : SocketFailed(op);
      }
      break;
    case kSend:
      op.VerCfg.State = Broadcast_Send(op.link) == 1 ? kSent : SocketFailed(op);
      break;
    case kSent:
      if (Broadcast_IsIdle(op.link)) {
        op.VerCfg.State = Broadcast_Result(op.link) == 1 ? kArm : SocketFailed(op);
      }
      break;
    case kArm:
      op.Countdown.Set(countdown::kBroadcastReply, kReplyTicks);
      op.VerCfg.State = kAwaitReply;
      break;
    case kAwaitReply:
      if (op.Countdown.Get(countdown::kBroadcastReply) == 0) {
        op.NoteFailure(FailReason::kNoReply);
        op.VerCfg.State = STEP_FAIL;
      } else if (Completed(op, request)) {
        op.VerCfg.State = kClose;
      }
      break;
    case kClose:
      Broadcast_Close(op.link);  // a busy channel gets no close; kClosed reads its result
      op.VerCfg.State = kClosed;
      break;
    case kClosed:
      if (Broadcast_IsIdle(op.link)) {
        op.VerCfg.State = Broadcast_Result(op.link) == 1 ? kAct : SocketFailed(op);
      }
      break;
    case kAct:
      Act(op, request);
      op.VerCfg.State = STEP_OK;
      break;
    case STEP_OK:
      op.VerCfg.Done = 1;
      op.VerCfg.State = STEP_END;
      break;
    case STEP_FAIL:
      op.VerCfg.Done = 0;
      // The next request starts with a fresh socket.
      op.link.BroadcastSocket_Close();
      op.VerCfg.State = STEP_END;
      break;
    default:
      op.VerCfg.State = 0;
      break;
  }
}

}  // namespace

// One broadcast request and its reply: open the socket, send the command to
// DeviceMAC, await the reply in DeviceRecord, close, act on it.
bool VerCfg_applay(Operation& op) {
  if (op.VerCfg.State == 0) {
    return false;  // idle: nothing to compare
  }
  const auto before = op.Record();
  VerCfgStep(op);
  return op.Record() != before;
}

}  // namespace kova
