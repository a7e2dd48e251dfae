#pragma once

#include <functional>

#include "controller/engine.h"
#include "engine_access.h"

namespace kova {

// What tests set up and check of an engine's own state; the engine keeps it
// from every other caller.
class EngineTestAccess {
 public:
  static Operation& Op(Engine& e) { return e.op_; }
  static MessageLog& Log(Engine& e) { return e.Log; }
  static Link& LinkOf(Engine& e) { return e.link_; }
  static LowerMachines& Machines(Engine& e) { return e.machines_; }
  static AdapterTable& Adapters(Engine& e) { return e.adapters_; }
  static DispatcherRecord& Dispatcher(Engine& e) { return e.Dispatcher; }
  static std::atomic<uint8_t>& MainState(Engine& e) { return e.MainState; }
  static std::atomic<int32_t>& ActionCode(Engine& e) { return e.ActionCode; }
  static OperatorInputs& Inputs(Engine& e) { return e.Inputs; }
  static std::atomic<int32_t>& InterfaceSel(Engine& e) { return e.InterfaceSel; }
  static std::atomic<int32_t>& InterfaceCount(Engine& e) { return e.InterfaceCount; }
  static std::atomic<int32_t>& MainThreadDelay(Engine& e) { return e.MainThreadDelay; }
  static int32_t& JumpSetting(Engine& e) { return e.run_jumptobootloade_flag; }
  static BoundedThread& Worker(Engine& e) { return e.Worker; }
  static BoundedThread& Receiver(Engine& e) { return e.Receiver; }
  static bool RunProcedure(Engine& e) { return e.RunProcedure(); }
  static void UpdateProgress(Engine& e) { e.UpdateProgress(); }
  static void IdleStep(Engine& e) { e.IdleStep(); }
  static int LoadUpgradeFile(Engine& e) { return e.Load_UpgradeFile(); }
};

}  // namespace kova

namespace kova::test {

// A script in the place of one of the engine's machines, telling whether it
// moved as they do: by what it changed of the operation.
inline std::function<bool(Operation&)> Script(std::function<void(Operation&)> body) {
  return [body](Operation& op) {
    const auto before = op.Record();
    body(op);
    return op.Record() != before;
  };
}

}  // namespace kova::test
