#include "common/countdown_slots.h"
#include "controller/engine.h"
#include "procedures/procedures.h"

namespace kova {

namespace {

constexpr int32_t kBootWaitTicks = 150;  // 15 s

}  // namespace

// The fixed pause that a board needs to restart into its bootloader, with
// the gauge filling as it passes.
//   1 announce -> 2 arm countdown 7 -> 3 wait, showing progress -> 4
//   -> STEP_OK -> STEP_END -> 0
void WaitForBootUp_Step(Engine& e) {
  switch (e.StepBusy) {
    case 0:
      break;
    case 1:
      e.Log.Say(1, "\n======KOVA : Wait for boot-up ... ");
      e.StepDone = 0;
      e.StepBusy = 2;
      break;
    case 2:
      e.ProgressStep = 0;
      e.Progress = 0;
      e.Countdown.Set(countdown::kProgressPace, 0);
      e.Countdown.Set(countdown::kBootWait, kBootWaitTicks);
      e.StepBusy = 3;
      break;
    case 3: {
      const int32_t left = e.Countdown.Get(countdown::kBootWait);
      if (left == 0) {
        e.StepBusy = 4;
      } else {
        e.Progress = (kBootWaitTicks - left) * 100 / kBootWaitTicks;
      }
      break;
    }
    case 4:
      e.StepBusy = STEP_OK;
      break;
    case STEP_OK:
      e.Log.Say(1, "Successful !======");
      e.StepDone = 1;
      e.StepBusy = STEP_END;
      break;
    case STEP_FAIL:
      e.Log.Say(1, "Failed !======");
      e.StepBusy = STEP_END;
      break;
    default:
      e.StepBusy = 0;
      break;
  }
}

}  // namespace kova
