#include "common/countdown_slots.h"
#include "operation/operation.h"
#include "procedures/procedures.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"
#include "protocol/reply_records.h"

namespace kova {

namespace {

constexpr int32_t kAckTicks = 20;     // 2 s per attempt
constexpr int32_t kFurtherTries = 3;  // four attempts in all
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

uint8_t SocketFailed(Operation& op) {
  op.NoteFailure(FailReason::kSocketFailed);
  return STEP_FAIL;
}

void JumpToBootloaderStep(Operation& op) {
  switch (op.Step.Busy) {
    case 0:
      break;
    case kStart:
      op.Log.Say(1, "\n======KOVA : Jump to Bootloader ... ");
      op.Jump.JumpRetries = kFurtherTries;
      op.Step.Done = 0;
      op.Step.Busy = kCreate;
      break;
    case kCreate:
      if (Broadcast_Create(op.link) == 1) {
        op.Step.Busy = kCreated;
      }
      break;
    case kCreated:
      if (Broadcast_IsIdle(op.link)) {
        op.Step.Busy = Broadcast_Result(op.link) == 1 ? kSend : SocketFailed(op);
      }
      break;
    case kSend:
      op.Buf.DeviceRecord_Set(device_record::kBootloaderAck, 0);
      op.Buf.BroadcastCmdIndex = broadcast_cmd::kBootloader;
      for (int i = 0; i < kMacLength; ++i) {
        op.link.BroadcastCmdArgs[i] = op.DeviceMAC[i];
      }
      op.Step.Busy = Broadcast_Send(op.link) == 1 ? kSent : SocketFailed(op);
      break;
    case kSent:
      if (Broadcast_IsIdle(op.link)) {
        op.Step.Busy = Broadcast_Result(op.link) == 1 ? kArm : SocketFailed(op);
      }
      break;
    case kArm:
      op.Countdown.Set(countdown::kBroadcastReply, kAckTicks);
      op.Step.Busy = kAwaitAck;
      break;
    case kAwaitAck:
      if (op.Countdown.Get(countdown::kBroadcastReply) != 0) {
        if (op.Buf.DeviceRecord_Get(device_record::kBootloaderAck) == 1) {
          op.Step.Busy = kClose;
        }
      } else if (op.Jump.JumpRetries > 0) {
        --op.Jump.JumpRetries;
        op.Step.Busy = kSend;
      } else {
        op.NoteFailure(FailReason::kNoReply);
        op.Step.Busy = STEP_FAIL;
      }
      break;
    case kClose:
      Broadcast_Close(op.link);  // a busy channel gets no close; kClosed reads its result
      op.Step.Busy = kClosed;
      break;
    case kClosed:
      if (Broadcast_IsIdle(op.link)) {
        op.Step.Busy = Broadcast_Result(op.link) == 1 ? kDone : SocketFailed(op);
      }
      break;
    case kDone:
      op.Step.Busy = STEP_OK;
      break;
    case STEP_OK:
      op.Log.Say(1, "Successful !======");
      op.Step.Done = 1;
      op.Step.Busy = STEP_END;
      break;
    case STEP_FAIL:
      op.Log.Say(1, "Failed !======");
      op.link.BroadcastSocket_Close();
      op.Step.Busy = STEP_END;
      break;
    default:
      op.Step.Busy = 0;
      break;
  }
}

}  // namespace

// Tells the board, by MAC, to restart into its bootloader, and waits for its
// acknowledgement; the command is repeated until the board answers.
bool JumpToBootloader_Step(Operation& op) {
  const auto before = op.Record();
  JumpToBootloaderStep(op);
  return op.Record() != before;
}

}  // namespace kova
