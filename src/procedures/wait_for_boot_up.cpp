#include "common/countdown_slots.h"
#include "operation/operation.h"
#include "procedures/procedures.h"

namespace kova {

namespace {

constexpr int32_t kBootWaitTicks = 150;  // 15 s

void WaitForBootUpStep(Operation& op) {
  switch (op.Step.Busy) {
    case 0:
      break;
    case 1:
      op.Log.Say(1, "\n======KOVA : Wait for boot-up ... ");
      op.Step.Done = 0;
      op.Step.Busy = 2;
      break;
    case 2:
      op.ProgressStep = 0;
      op.Progress = 0;
      op.Countdown.Set(countdown::kProgressPace, 0);
      op.Countdown.Set(countdown::kBootWait, kBootWaitTicks);
      op.Step.Busy = 3;
      break;
    case 3: {
      const int32_t left = op.Countdown.Get(countdown::kBootWait);
      if (left == 0) {
        op.Step.Busy = 4;
      } else {
        op.Progress = (kBootWaitTicks - left) * 100 / kBootWaitTicks;
      }
      break;
    }
    case 4:
      op.Step.Busy = STEP_OK;
      break;
    case STEP_OK:
      op.Log.Say(1, "Successful !======");
      op.Step.Done = 1;
      op.Step.Busy = STEP_END;
      break;
    case STEP_FAIL:
      op.Log.Say(1, "Failed !======");
      op.Step.Busy = STEP_END;
      break;
    default:
      op.Step.Busy = 0;
      break;
  }
}

}  // namespace

// The fixed pause that a board needs to restart into its bootloader, with
// the gauge filling as it passes.
//   1 announce -> 2 arm countdown 7 -> 3 wait, showing progress -> 4
//   -> STEP_OK -> STEP_END -> 0
bool WaitForBootUp_Step(Operation& op) {
  const auto before = op.Record();
  WaitForBootUpStep(op);
  return op.Record() != before;
}

}  // namespace kova
