#include <cstring>
#include <vector>

#include "common/countdown_slots.h"
#include "common/format.h"
#include "common/hex_digit.h"
#include "maintenance/maintenance_machines.h"
#include "operation/operation.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"
#include "protocol/reply_records.h"
#include "protocol/sockets.h"

namespace kova {

namespace {

constexpr int32_t kDefaultTicks = 20;
constexpr int32_t kLongTicks = 600;
constexpr int32_t kSendFileTicks = 10;
constexpr int32_t kCheckUpdateTicks = 100;
constexpr int32_t kRemoteCheckWindow = 1200;

// The name that SET_MODELNAME writes: six characters, a terminating 0x00, and
// 0xFF ending the argument so that the padding is not sent.
constexpr uint8_t kModelName[udp_reply::kModelNameLength] = {
    'Q', 'X', '-', '2', '0', '4', 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

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

// Hands the reply bytes from `first` on to the front end.
void Answer(Operation& op, BoardAnswer kind, int first, int count) {
  if (op.Log.Barred()) {
    return;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    bytes[static_cast<size_t>(i)] = op.Buf.UDPReply_Get(first + i);
  }
  op.Log.Panel().AnswerRead(kind, bytes);
}

bool IsRemoteUpdate(int32_t request) {
  return request >= udp_cmd::kRemoteErase && request <= udp_cmd::kCheckRemoteUpdate;
}

bool Supported(int32_t request) {
  return request == udp_cmd::kEthReq || request == udp_cmd::kFwVerReq ||
         request == udp_cmd::kBootloader ||
         (request >= udp_cmd::kGetBlVer && request <= udp_cmd::kCheckRemoteUpdate);
}

int32_t TimeoutTicks(int32_t request) {
  switch (request) {
    case udp_cmd::kRemoteErase:
    case udp_cmd::kRemoteUpdate:
      return kLongTicks;
    case udp_cmd::kSendFile:
      return kSendFileTicks;
    case udp_cmd::kCheckRemoteUpdate:
      return kCheckUpdateTicks;
    default:
      return kDefaultTicks;
  }
}

// Clears what the reply of the request sets, so that a reply to an earlier
// exchange cannot complete this one.
void Prepare(Operation& op, int32_t request) {
  switch (request) {
    case udp_cmd::kFwVerReq:
      op.Buf.UDPReply_Set(udp_reply::kVersionFlag, 0);
      op.Buf.UDPReply_Set(udp_reply::kVersionFlag + 1, 0xFF);
      op.Buf.UDPReply_Set(udp_reply::kVersionFlag + 2, 0xFF);
      break;
    case udp_cmd::kGetE2p256:
      op.Buf.UDPReply_Set(udp_reply::kEepromFlag, 0);
      break;
    case udp_cmd::kGetModelName:
      op.Buf.UDPReply_Set(udp_reply::kModelNameFlag, 0);
      break;
    case udp_cmd::kSetModelName:
      op.Buf.UDPReply_Set(udp_reply::kSetModelNameFlag, 0);
      std::memcpy(op.link.UDPCmdArgs, kModelName, sizeof kModelName);
      break;
    default:
      if (IsRemoteUpdate(request)) {
        op.Buf.UDPReply_Set(udp_reply::kRemoteAck, 0);
      }
      break;
  }
}

bool Completed(const Operation& op, int32_t request) {
  switch (request) {
    case udp_cmd::kFwVerReq:
      return op.Buf.UDPReply_Get(udp_reply::kVersionFlag) == 1;
    case udp_cmd::kGetE2p256:
      return op.Buf.UDPReply_Get(udp_reply::kEepromFlag) == 1;
    case udp_cmd::kGetModelName:
      return op.Buf.UDPReply_Get(udp_reply::kModelNameFlag) == 1;
    case udp_cmd::kSetModelName:
      return op.Buf.UDPReply_Get(udp_reply::kSetModelNameFlag) == 1;
    default:
      // Requests without a reply of their own end by time-out.
      return IsRemoteUpdate(request) && op.Buf.UDPReply_Get(udp_reply::kRemoteAck) != 0;
  }
}

void ShowProgress(Operation& op, int32_t request) {
  switch (request) {
    case udp_cmd::kRemoteErase:
    case udp_cmd::kRemoteUpdate:
      op.Progress = (kLongTicks - op.Countdown.Get(countdown::kUnicastReply)) / 6;
      break;
    case udp_cmd::kCheckRemoteUpdate:
      op.Progress = (kRemoteCheckWindow - op.Countdown.Get(countdown::kRemoteFinish)) / 12;
      break;
    default:
      break;
  }
}

void Act(Operation& op, int32_t request) {
  switch (request) {
    case udp_cmd::kGetModelName:
      op.Log.Say(0, "\n    KOVA MODEL NAME[16] =");
      for (int i = 0; i < udp_reply::kModelNameLength; ++i) {
        const uint8_t b = op.Buf.UDPReply_Get(udp_reply::kModelName + i);
        op.Log.Say(0, i == 0 ? Format("\n      %c%c", HexHigh(b), HexLow(b))
                             : Format("%c%c", HexHigh(b), HexLow(b)));
      }
      Answer(op, BoardAnswer::kModelName, udp_reply::kModelName, udp_reply::kModelNameLength);
      break;
    case udp_cmd::kGetE2p256:
      op.Log.Say(0, "\n    KOVA EEPROM[256] =");
      for (int i = 0; i < udp_reply::kEepromLength; ++i) {
        const uint8_t b = op.Buf.UDPReply_Get(udp_reply::kEeprom + i);
        op.Log.Say(0, i % 16 == 0 ? Format("\n    %c%c", HexHigh(b), HexLow(b))
                                  : Format("%c%c", HexHigh(b), HexLow(b)));
      }
      Answer(op, BoardAnswer::kEeprom, udp_reply::kEeprom, udp_reply::kEepromLength);
      break;
    case udp_cmd::kSetModelName:
      op.Log.Say(0, "\n    KOVA MODEL NAME Set ... Ok !");
      break;
    default:
      break;
  }
}

void EepromStep(Operation& op) {
  const int32_t request = op.Eeprom.Op;
  switch (op.Eeprom.State) {
    case 0:
      break;
    case kStart:
      op.Eeprom.Done = 0;
      op.Eeprom.State = kPrepare;
      break;
    case kPrepare:
      if (!Supported(request)) {
        op.Eeprom.State = STEP_FAIL;
        break;
      }
      Prepare(op, request);
      op.Buf.UDPCmdIndex = request;
      op.Eeprom.State = kCreate;
      break;
    case kCreate:
      if (UDP_Create(op.link, kBoardCommandPort, 0) == 1) {
        op.Eeprom.State = kCreated;
      }
      break;
    case kCreated:
      if (UDP_IsIdle(op.link)) {
        op.Eeprom.State = UDP_Result(op.link) == 1 ? kSend : SocketFailed(op);
      }
      break;
    case kSend:
      op.Eeprom.State = UDP_Send(op.link, 0) == 1 ? kSent : SocketFailed(op);
      break;
    case kSent:
      if (UDP_IsIdle(op.link)) {
        op.Eeprom.State = UDP_Result(op.link) == 1 ? kArm : SocketFailed(op);
      }
      break;
    case kArm:
      op.Countdown.Set(countdown::kUnicastReply, TimeoutTicks(request));
      op.Eeprom.State = kAwaitReply;
      break;
    case kAwaitReply:
      if (op.Countdown.Get(countdown::kUnicastReply) == 0) {
        op.NoteFailure(FailReason::kNoReply);
        op.Eeprom.State = STEP_FAIL;
        break;
      }
      ShowProgress(op, request);
      if (Completed(op, request)) {
        op.Eeprom.State = kClose;
      }
      break;
    case kClose:
      UDP_Close(op.link);  // a busy channel gets no close; kClosed reads its result
      op.Eeprom.State = kClosed;
      break;
    case kClosed:
      if (UDP_IsIdle(op.link)) {
        op.Eeprom.State = UDP_Result(op.link) == 1 ? kAct : SocketFailed(op);
      }
      break;
    case kAct:
      Act(op, request);
      op.Eeprom.State = STEP_OK;
      break;
    case STEP_OK:
      op.Log.Say(0, "\n    UDP Command ... Successful !");
      op.Eeprom.Done = 1;
      op.Eeprom.State = STEP_END;
      break;
    case STEP_FAIL:
      op.Log.Say(0, "\n    UDP Command ... Failed !");
      op.Eeprom.Done = 0;
      // The next request starts with a fresh socket.
      op.link.UDPSocket_Close();
      op.Eeprom.State = STEP_END;
      break;
    default:
      op.Eeprom.State = 0;
      break;
  }
}

}  // namespace

// One unicast request and its reply: open the UDP socket towards DeviceIP,
// send the command, await the reply in UDPReply, close, act on it.
bool Eeprom_applay(Operation& op) {
  if (op.Eeprom.State == 0) {
    return false;  // idle: nothing to compare
  }
  const auto before = op.Record();
  EepromStep(op);
  return op.Record() != before;
}

}  // namespace kova
