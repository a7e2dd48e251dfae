#pragma once

namespace kova {

class Engine;

// The operation dispatcher: runs upgrade procedure ProcStep (0..4) once
// ProcState has been moved to 1, and reports its verdict in ProcDone.
//
//   ProcState 0      idle
//             1      ProcDone = 0, StepBusy = 1            -> 2
//             2      a procedure that has ended decides 3 or STEP_FAIL;
//                    then, same call: ProcStep > 4 fails, else the
//                    procedure takes one step               -> 2, 3, STEP_FAIL
//             3                                             -> STEP_OK
//             STEP_OK / STEP_FAIL  ProcDone = 1 / 0         -> STEP_END
//             STEP_END, other                               -> 0
void RunProcedure(Engine& e);

// A procedure not built yet: fails at once when started, so the dispatcher
// never waits on it.
void StubProcedure(Engine& e);

}  // namespace kova
