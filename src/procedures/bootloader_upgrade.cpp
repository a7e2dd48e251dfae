#include "operation/operation.h"
#include "procedures/procedures.h"

namespace kova {

namespace {

void BootloaderUpgradeStep(Operation& op) {
  switch (op.Step.Busy) {
    case 0:
      break;
    case 1:
      op.Log.Say(1, "\n======KOVA : Bootloader upgrade ... ");
      op.Step.Done = 0;
      op.Step.Busy = 2;
      break;
    case 2:
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

// The bootloader upgrade step announces itself and succeeds; it sends
// nothing and reads neither bootloader image.
//   1 announce -> 2 -> STEP_OK -> STEP_END -> 0
bool BootloaderUpgrade_Step(Operation& op) {
  const auto before = op.Record();
  BootloaderUpgradeStep(op);
  return op.Record() != before;
}

}  // namespace kova
