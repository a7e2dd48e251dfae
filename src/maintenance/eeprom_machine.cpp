#include <cstring>
#include <vector>

#include "common/countdown_slots.h"
#include "common/format.h"
#include "common/hex_digit.h"
#include "controller/engine.h"
#include "maintenance/maintenance_machines.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"
#include "protocol/sockets.h"

namespace kova {

namespace {

constexpr int32_t kDefaultTicks = 20;
constexpr int32_t kLongTicks = 600;
constexpr int32_t kSendFileTicks = 10;
constexpr int32_t kCheckUpdateTicks = 100;
constexpr int32_t kRemoteCheckWindow = 1200;

// UDPReply bytes that the UDP reply handler fills.
constexpr int kReplyVersionFlag = 0;
constexpr int kReplyModelNameSetFlag = 10;
constexpr int kReplyModelNameFlag = 11;
constexpr int kReplyModelName = 12;
constexpr int kModelNameLength = 16;
constexpr int kReplyEepromFlag = 28;
constexpr int kReplyEeprom = 29;
constexpr int kEepromLength = 256;
constexpr int kReplyRemoteAck = 286;

// The name that SET_MODELNAME writes: six characters, a terminating 0x00, and
// 0xFF ending the argument so that the padding is not sent.
constexpr uint8_t kModelName[kModelNameLength] = {'Q',  'X',  '-',  '2',  '0',  '4',  0x00, 0xFF,
                                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

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

// Hands the reply bytes from `first` on to the front end.
void Answer(Engine& e, BoardAnswer kind, int first, int count) {
  if (e.Log.Barred()) {
    return;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    bytes[static_cast<size_t>(i)] = e.Buf.UDPReply_Get(first + i);
  }
  e.Log.Panel().AnswerRead(kind, bytes);
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
void Prepare(Engine& e, int32_t request) {
  switch (request) {
    case udp_cmd::kFwVerReq:
      e.Buf.UDPReply_Set(kReplyVersionFlag, 0);
      e.Buf.UDPReply_Set(kReplyVersionFlag + 1, 0xFF);
      e.Buf.UDPReply_Set(kReplyVersionFlag + 2, 0xFF);
      break;
    case udp_cmd::kGetE2p256:
      e.Buf.UDPReply_Set(kReplyEepromFlag, 0);
      break;
    case udp_cmd::kGetModelName:
      e.Buf.UDPReply_Set(kReplyModelNameFlag, 0);
      break;
    case udp_cmd::kSetModelName:
      e.Buf.UDPReply_Set(kReplyModelNameSetFlag, 0);
      std::memcpy(e.link.UDPCmdArgs, kModelName, sizeof kModelName);
      break;
    default:
      if (IsRemoteUpdate(request)) {
        e.Buf.UDPReply_Set(kReplyRemoteAck, 0);
      }
      break;
  }
}

bool Completed(const Engine& e, int32_t request) {
  switch (request) {
    case udp_cmd::kFwVerReq:
      return e.Buf.UDPReply_Get(kReplyVersionFlag) == 1;
    case udp_cmd::kGetE2p256:
      return e.Buf.UDPReply_Get(kReplyEepromFlag) == 1;
    case udp_cmd::kGetModelName:
      return e.Buf.UDPReply_Get(kReplyModelNameFlag) == 1;
    case udp_cmd::kSetModelName:
      return e.Buf.UDPReply_Get(kReplyModelNameSetFlag) == 1;
    default:
      // Requests without a reply of their own end by time-out.
      return IsRemoteUpdate(request) && e.Buf.UDPReply_Get(kReplyRemoteAck) != 0;
  }
}

void ShowProgress(Engine& e, int32_t request) {
  switch (request) {
    case udp_cmd::kRemoteErase:
    case udp_cmd::kRemoteUpdate:
      e.Progress = (kLongTicks - e.Countdown.Get(countdown::kUnicastReply)) / 6;
      break;
    case udp_cmd::kCheckRemoteUpdate:
      e.Progress = (kRemoteCheckWindow - e.Countdown.Get(countdown::kRemoteFinish)) / 12;
      break;
    default:
      break;
  }
}

void Act(Engine& e, int32_t request) {
  switch (request) {
    case udp_cmd::kGetModelName:
      e.Log.Say(0, "\n    KOVA MODEL NAME[16] =");
      for (int i = 0; i < kModelNameLength; ++i) {
        const uint8_t b = e.Buf.UDPReply_Get(kReplyModelName + i);
        e.Log.Say(0, i == 0 ? Format("\n      %c%c", HexHigh(b), HexLow(b))
                            : Format("%c%c", HexHigh(b), HexLow(b)));
      }
      Answer(e, BoardAnswer::kModelName, kReplyModelName, kModelNameLength);
      break;
    case udp_cmd::kGetE2p256:
      e.Log.Say(0, "\n    KOVA EEPROM[256] =");
      for (int i = 0; i < kEepromLength; ++i) {
        const uint8_t b = e.Buf.UDPReply_Get(kReplyEeprom + i);
        e.Log.Say(0, i % 16 == 0 ? Format("\n    %c%c", HexHigh(b), HexLow(b))
                                 : Format("%c%c", HexHigh(b), HexLow(b)));
      }
      Answer(e, BoardAnswer::kEeprom, kReplyEeprom, kEepromLength);
      break;
    case udp_cmd::kSetModelName:
      e.Log.Say(0, "\n    KOVA MODEL NAME Set ... Ok !");
      break;
    default:
      break;
  }
}

}  // namespace

// One unicast request and its reply: open the UDP socket towards DeviceIP,
// send the command, await the reply in UDPReply, close, act on it.
void Eeprom_applay(Engine& e) {
  const int32_t request = e.EepromOp;
  switch (e.EepromState) {
    case 0:
      break;
    case kStart:
      e.EepromDone = 0;
      e.EepromState = kPrepare;
      break;
    case kPrepare:
      if (!Supported(request)) {
        e.EepromState = STEP_FAIL;
        break;
      }
      Prepare(e, request);
      e.Buf.UDPCmdIndex = request;
      e.EepromState = kCreate;
      break;
    case kCreate:
      if (UDP_Create(e.link, kBoardCommandPort, 0) == 1) {
        e.EepromState = kCreated;
      }
      break;
    case kCreated:
      if (UDP_IsIdle(e.link)) {
        e.EepromState = UDP_Result(e.link) == 1 ? kSend : SocketFailed(e);
      }
      break;
    case kSend:
      e.EepromState = UDP_Send(e.link, 0) == 1 ? kSent : SocketFailed(e);
      break;
    case kSent:
      if (UDP_IsIdle(e.link)) {
        e.EepromState = UDP_Result(e.link) == 1 ? kArm : SocketFailed(e);
      }
      break;
    case kArm:
      e.Countdown.Set(countdown::kUnicastReply, TimeoutTicks(request));
      e.EepromState = kAwaitReply;
      break;
    case kAwaitReply:
      if (e.Countdown.Get(countdown::kUnicastReply) == 0) {
        e.NoteFailure(FailReason::kNoReply);
        e.EepromState = STEP_FAIL;
        break;
      }
      ShowProgress(e, request);
      if (Completed(e, request)) {
        e.EepromState = kClose;
      }
      break;
    case kClose:
      UDP_Close(e.link);  // a busy channel gets no close; kClosed reads its result
      e.EepromState = kClosed;
      break;
    case kClosed:
      if (UDP_IsIdle(e.link)) {
        e.EepromState = UDP_Result(e.link) == 1 ? kAct : SocketFailed(e);
      }
      break;
    case kAct:
      Act(e, request);
      e.EepromState = STEP_OK;
      break;
    case STEP_OK:
      e.Log.Say(0, "\n    UDP Command ... Successful !");
      e.EepromDone = 1;
      e.EepromState = STEP_END;
      break;
    case STEP_FAIL:
      e.Log.Say(0, "\n    UDP Command ... Failed !");
      e.EepromDone = 0;
      // The next request starts with a fresh socket.
      e.link.UDPSocket_Close();
      e.EepromState = STEP_END;
      break;
    default:
      e.EepromState = 0;
      break;
  }
}

}  // namespace kova
