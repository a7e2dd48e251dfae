#pragma once

namespace kova {

class Operation;

// The upgrade procedures that the dispatcher runs, one step per call. Each
// keeps its state in the operation's Step.Busy and its verdict in
// Step.Done, and says whether the step moved anything it owns.
bool JumpToBootloader_Step(Operation& op);   // ProcStep 0
bool WaitForBootUp_Step(Operation& op);      // ProcStep 1
bool BootloaderUpgrade_Step(Operation& op);  // ProcStep 2
bool AppUpgrade_Step(Operation& op);         // ProcStep 3
bool RemoteUpdate_Step(Operation& op);       // ProcStep 4

}  // namespace kova
