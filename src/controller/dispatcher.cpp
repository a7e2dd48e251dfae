#include "controller/dispatcher.h"

#include "controller/engine.h"

namespace kova {

void RunProcedure(Engine& e) {
  switch (e.ProcState) {
    case 0:
      break;
    case 1:
      e.ProcDone = 0;
      e.StepBusy = 1;
      e.ProcState = 2;
      break;
    case 2: {
      uint8_t next = 2;
      if (e.StepBusy == 0) {
        next = (e.StepDone == 1) ? 3 : STEP_FAIL;
      }
      // The procedure is called even in the pass that noticed its end; an
      // ended procedure ignores the call.
      if (e.ProcStep > 4) {
        e.StepBusy = 0;
        next = STEP_FAIL;
      } else if (e.Procedures[e.ProcStep]) {
        e.Procedures[e.ProcStep](e);
      }
      e.ProcState = next;
      break;
    }
    case 3:
      e.ProcState = STEP_OK;
      break;
    case STEP_OK:
      e.ProcDone = 1;
      e.ProcState = STEP_END;
      break;
    case STEP_FAIL:
      e.ProcDone = 0;
      e.ProcState = STEP_END;
      break;
    default:
      e.ProcState = 0;
      break;
  }
}

void StubProcedure(Engine& e) {
  if (e.StepBusy != 0) {
    e.StepDone = 0;
    e.StepBusy = 0;
  }
}

}  // namespace kova
