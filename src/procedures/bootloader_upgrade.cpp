#include "controller/engine.h"
#include "procedures/procedures.h"

namespace kova {

// The bootloader upgrade step announces itself and succeeds; it sends
// nothing and reads neither bootloader image.
//   1 announce -> 2 -> STEP_OK -> STEP_END -> 0
void BootloaderUpgrade_Step(Engine& e) {
  switch (e.StepBusy) {
    case 0:
      break;
    case 1:
      e.Log.Say(1, "\n======KOVA : Bootloader upgrade ... ");
      e.StepDone = 0;
      e.StepBusy = 2;
      break;
    case 2:
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
