#pragma once

namespace kova {

class Engine;

// The upgrade procedures that the dispatcher runs, one step per call. Each
// keeps its state in StepBusy and its verdict in StepDone.
void JumpToBootloader_Step(Engine& e);   // ProcStep 0
void WaitForBootUp_Step(Engine& e);      // ProcStep 1
void BootloaderUpgrade_Step(Engine& e);  // ProcStep 2
void AppUpgrade_Step(Engine& e);         // ProcStep 3
void RemoteUpdate_Step(Engine& e);       // ProcStep 4

}  // namespace kova
