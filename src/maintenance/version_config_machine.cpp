#include "common/countdown_slots.h"
#include "common/format.h"
#include "common/hex_digit.h"
#include "controller/engine.h"
#include "maintenance/maintenance_machines.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"

namespace kova {

namespace {

constexpr int32_t kReplyTicks = 20;  // 2 s
constexpr int32_t kLastRequest = broadcast_cmd::kE2pRead;
constexpr int kMacLength = 6;

// DeviceRecord bytes that the broadcast reply handler fills.
constexpr int kRecordIp = 0;
constexpr int kRecordVersionFlag = 4;
constexpr int kRecordVersion = 5;
constexpr int kRecordDefaultFlag = 11;
constexpr int kRecordE2pAddress = 13;
constexpr int kRecordE2pData = 15;
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

uint8_t SocketFailed(Engine& e) {
  e.NoteFailure(FailReason::kSocketFailed);
  return STEP_FAIL;
}

// Clears what the reply of the request sets, so that a reply to an earlier
// exchange cannot complete this one.
void Prepare(Engine& e, int32_t request) {
  switch (request) {
    case broadcast_cmd::kEthReq:
      for (int i = 0; i < 4; ++i) {
        e.Buf.DeviceRecord_Set(kRecordIp + i, kUnset);
      }
      e.link.EthReqAnswered = 0;
      break;
    case broadcast_cmd::kFwVerReq:
      e.Buf.DeviceRecord_Set(kRecordVersionFlag, 0);
      e.Buf.DeviceRecord_Set(kRecordVersion, kUnset);
      e.Buf.DeviceRecord_Set(kRecordVersion + 1, kUnset);
      break;
    case broadcast_cmd::kE2pDefault:
      e.Buf.DeviceRecord_Set(kRecordDefaultFlag, 0);
      break;
    case broadcast_cmd::kE2pRead:
      // Both check-code bytes: a short reply must not leave an earlier board's
      // second byte to decide the platform.
      e.Buf.DeviceRecord_Set(kRecordE2pData, kUnset);
      e.Buf.DeviceRecord_Set(kRecordE2pData + 1, kUnset);
      e.link.BroadcastCmdArgs[kMacLength] = e.Buf.DeviceRecord_Get(kRecordE2pAddress);
      e.link.BroadcastCmdArgs[kMacLength + 1] = e.Buf.DeviceRecord_Get(kRecordE2pAddress + 1);
      e.link.E2pReadAnswered = 0;
      break;
    default:
      break;
  }
}

// Whether the reply has arrived. The address and the record read are judged
// by the handler's flags, not by their bytes: 255 is a valid octet, and an
// erased record byte is a valid answer from an old-platform board.
bool Completed(const Engine& e, int32_t request) {
  switch (request) {
    case broadcast_cmd::kEthReq:
      return e.link.EthReqAnswered == 1;
    case broadcast_cmd::kFwVerReq:
      return e.Buf.DeviceRecord_Get(kRecordVersionFlag) == 1;
    case broadcast_cmd::kE2pDefault:
      return e.Buf.DeviceRecord_Get(kRecordDefaultFlag) == 1;
    case broadcast_cmd::kE2pRead:
      return e.link.E2pReadAnswered == 1;
    default:
      return false;  // requests without a reply end by time-out
  }
}

void Act(Engine& e, int32_t request) {
  switch (request) {
    case broadcast_cmd::kEthReq:
      for (int i = 0; i < 4; ++i) {
        e.DeviceIP[i] = e.Buf.DeviceRecord_Get(kRecordIp + i);
      }
      break;
    case broadcast_cmd::kFwVerReq: {
      const uint8_t major = e.Buf.DeviceRecord_Get(kRecordVersion);
      const uint8_t minor = e.Buf.DeviceRecord_Get(kRecordVersion + 1);
      e.Log.Say(1, Format("\nKOVA Application firmware is v%c.%c%c%c !", HexHigh(major),
                          HexLow(major), HexHigh(minor), HexLow(minor)));
      if (!e.Log.Barred()) {
        e.Log.Panel().AnswerRead(BoardAnswer::kVersion, {major, minor});
      }
      e.Log.MessageBox("... KOVA firmware version");
      break;
    }
    case broadcast_cmd::kE2pDefault:
      e.Log.Say(1, "\nKOVA Configuration default !");
      e.Log.MessageBox("... KOVA Configuare");
      break;
    default:
      break;
  }
}

}  // namespace

// One broadcast request and its reply: open the socket, send the command to
// DeviceMAC, await the reply in DeviceRecord, close, act on it.
void VerCfg_applay(Engine& e) {
  const int32_t request = e.VerCfgOp;
  switch (e.VerCfgState) {
    case 0:
      break;
    case kStart:
      e.VerCfgDone = 0;
      e.VerCfgState = kPrepare;
      break;
    case kPrepare:
      if (request < 0 || request > kLastRequest) {
        e.VerCfgState = STEP_FAIL;
        break;
      }
      Prepare(e, request);
      e.Buf.BroadcastCmdIndex = request;
      for (int i = 0; i < kMacLength; ++i) {
        e.link.BroadcastCmdArgs[i] = e.DeviceMAC[i];
      }
      e.VerCfgState = kCreate;
      break;
    case kCreate:
      if (Broadcast_Create(e.link) == 1) {
        e.VerCfgState = kCreated;
      }
      break;
    case kCreated:
      if (Broadcast_IsIdle(e.link)) {
        e.VerCfgState = Broadcast_Result(e.link) == 1 ? kSend : SocketFailed(e);
      }
      break;
    case kSend:
      e.VerCfgState = Broadcast_Send(e.link) == 1 ? kSent : SocketFailed(e);
      break;
    case kSent:
      if (Broadcast_IsIdle(e.link)) {
        e.VerCfgState = Broadcast_Result(e.link) == 1 ? kArm : SocketFailed(e);
      }
      break;
    case kArm:
      e.Countdown.Set(countdown::kBroadcastReply, kReplyTicks);
      e.VerCfgState = kAwaitReply;
      break;
    case kAwaitReply:
      if (e.Countdown.Get(countdown::kBroadcastReply) == 0) {
        e.NoteFailure(FailReason::kNoReply);
        e.VerCfgState = STEP_FAIL;
      } else if (Completed(e, request)) {
        e.VerCfgState = kClose;
      }
      break;
    case kClose:
      Broadcast_Close(e.link);  // a busy channel gets no close; kClosed reads its result
      e.VerCfgState = kClosed;
      break;
    case kClosed:
      if (Broadcast_IsIdle(e.link)) {
        e.VerCfgState = Broadcast_Result(e.link) == 1 ? kAct : SocketFailed(e);
      }
      break;
    case kAct:
      Act(e, request);
      e.VerCfgState = STEP_OK;
      break;
    case STEP_OK:
      e.VerCfgDone = 1;
      e.VerCfgState = STEP_END;
      break;
    case STEP_FAIL:
      e.VerCfgDone = 0;
      // The next request starts with a fresh socket.
      e.link.BroadcastSocket_Close();
      e.VerCfgState = STEP_END;
      break;
    default:
      e.VerCfgState = 0;
      break;
  }
}

}  // namespace kova
