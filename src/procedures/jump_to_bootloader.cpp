#include "common/countdown_slots.h"
#include "controller/engine.h"
#include "procedures/procedures.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"

namespace kova {

namespace {

constexpr int32_t kAckTicks = 20;     // 2 s per attempt
constexpr int32_t kFurtherTries = 3;  // four attempts in all
constexpr int kRecordBootloaderAck = 10;
constexpr int kMacLength = 6;

// Running states; the end states are the shared STEP_OK, STEP_FAIL, STEP_END.
constexpr uint8_t kStart = 1;
constexpr uint8_t kCreate = 2;
constexpr uint8_t kCreated = 3;
constexpr uint8_t kSend = 4;
constexpr uint8_t kSent = 5;
constexpr uint8_t kArm = 6;
constexpr uint8_t kAwaitAck = 7;
constexpr uint8_t kClose = 8;
constexpr uint8_t kClosed = 9;
constexpr uint8_t kDone = 10;

uint8_t SocketFailed(Engine& e) {
  e.NoteFailure(FailReason::kSocketFailed);
  return STEP_FAIL;
}

}  // namespace

// Tells the board, by MAC, to restart into its bootloader, and waits for its
// acknowledgement; the command is repeated until the board answers.
void JumpToBootloader_Step(Engine& e) {
  switch (e.StepBusy) {
    case 0:
      break;
    case kStart:
      e.Log.Say(1, "\n======KOVA : Jump to Bootloader ... ");
      e.JumpRetries = kFurtherTries;
      e.StepDone = 0;
      e.StepBusy = kCreate;
      break;
    case kCreate:
      if (Broadcast_Create(e.link) == 1) {
        e.StepBusy = kCreated;
      }
      break;
    case kCreated:
      if (Broadcast_IsIdle(e.link)) {
        e.StepBusy = Broadcast_Result(e.link) == 1 ? kSend : SocketFailed(e);
      }
      break;
    case kSend:
      e.Buf.DeviceRecord_Set(kRecordBootloaderAck, 0);
      e.Buf.BroadcastCmdIndex = broadcast_cmd::kBootloader;
      for (int i = 0; i < kMacLength; ++i) {
        e.link.BroadcastCmdArgs[i] = e.DeviceMAC[i];
      }
      e.StepBusy = Broadcast_Send(e.link) == 1 ? kSent : SocketFailed(e);
      break;
    case kSent:
      if (Broadcast_IsIdle(e.link)) {
        e.StepBusy = Broadcast_Result(e.link) == 1 ? kArm : SocketFailed(e);
      }
      break;
    case kArm:
      e.Countdown.Set(countdown::kBroadcastReply, kAckTicks);
      e.StepBusy = kAwaitAck;
      break;
    case kAwaitAck:
      if (e.Countdown.Get(countdown::kBroadcastReply) != 0) {
        if (e.Buf.DeviceRecord_Get(kRecordBootloaderAck) == 1) {
          e.StepBusy = kClose;
        }
      } else if (e.JumpRetries > 0) {
        --e.JumpRetries;
        e.StepBusy = kSend;
      } else {
        e.NoteFailure(FailReason::kNoReply);
        e.StepBusy = STEP_FAIL;
      }
      break;
    case kClose:
      Broadcast_Close(e.link);  // a busy channel gets no close; kClosed reads its result
      e.StepBusy = kClosed;
      break;
    case kClosed:
      if (Broadcast_IsIdle(e.link)) {
        e.StepBusy = Broadcast_Result(e.link) == 1 ? kDone : SocketFailed(e);
      }
      break;
    case kDone:
      e.StepBusy = STEP_OK;
      break;
    case STEP_OK:
      e.Log.Say(1, "Successful !======");
      e.StepDone = 1;
      e.StepBusy = STEP_END;
      break;
    case STEP_FAIL:
      e.Log.Say(1, "Failed !======");
      e.link.BroadcastSocket_Close();
      e.StepBusy = STEP_END;
      break;
    default:
      e.StepBusy = 0;
      break;
  }
}

}  // namespace kova
