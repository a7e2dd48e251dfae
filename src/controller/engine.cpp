#include "controller/engine.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "config/config_file.h"
#include "hostnet/adapter_list.h"
#include "hostnet/neighbour_table.h"
#include "maintenance/maintenance_machines.h"
#include "platform/host_files.h"
#include "procedures/procedures.h"
#include "protocol/channels.h"
#include "protocol/line_exchange.h"
#include "protocol/receive_path.h"

namespace kova {

Engine::Engine(OperatorPanel& panel, std::string workDir, std::unique_ptr<NetPlatform> net,
               std::unique_ptr<NeighbourTable> neighbours, EngineTimings timings)
    : WorkDir(std::move(workDir)),
      Log(panel),
      Net(net ? std::move(net) : MakeNetPlatform()),
      Neighbours(neighbours ? std::move(neighbours) : MakeHostNeighbourTable()),
      op_(Operation::Uses{Log, Countdown, Buf, link_, *Net, *Neighbours, adapters_, InterfaceSel,
                          InterfaceCount,
                          OperationTimings{timings.joinBound, timings.neighbourRetryPause}}),
      link_(Link::Uses{Log, Countdown, Buf, *Net, op_.DeviceIP, op_.DeviceMAC, adapters_,
                       InterfaceSel, InterfaceCount, op_.Progress, op_.ProgressStep, &Wake,
                       Neighbours.get()}),
      timings_(timings) {
  Buf.AllocSharedBuffers();
  Countdown.ClearCountdowns();
  machines_.VerCfg = VerCfg_applay;
  machines_.Eeprom = Eeprom_applay;
  machines_.Line = Line_applay;
  machines_.Broadcast = Broadcast_applay;
  machines_.UDP = UDP_applay;
  machines_.Procedures = {JumpToBootloader_Step, WaitForBootUp_Step, BootloaderUpgrade_Step,
                          AppUpgrade_Step, RemoteUpdate_Step};
  link_.RecvWake = Net->OpenWake();
}

Engine::~Engine() {
  ShutdownAll();
  // A thread that missed the bound is barred from every step and panel
  // call, so it leaves as soon as its current call returns. A late worker
  // may have started a server after shutdown looked.
  const auto bound = timings_.finalBound;
  const bool worker = Worker.Reap(bound);
  const bool server = op_.BootServerThread.Stop(bound);
  const bool receiver = Receiver.Reap(bound);
  if (!worker || !server || !receiver) {
    // Still inside a call that does not return: leaving would free what it
    // uses, waiting would hang the program for ever. The board's entry goes
    // first, and the word on stderr must not wait for a reader either.
    const bool entryRemoved = op_.RemoveEntryBeforeExit();
    host::WriteWithoutWaiting(2, "kova-upgrade: a thread did not stop; ending the program\n");
    if (!entryRemoved) {
      host::WriteWithoutWaiting(2, "kova-upgrade: the board's neighbour entry stays behind\n");
    }
    std::_Exit(1);
  }
  if (releasePending_) {
    releasePending_ = false;
    ReleaseHostState();
  }
  if (link_.RecvWake >= 0) {
    Net->Close(link_.RecvWake);
  }
}

void Engine::LoadAdapters() {
  Load_AdapterList(adapters_);
  InterfaceCount = adapters_.Count;
  InterfaceSel = 0;
}

void Engine::SelectInterface(int sel) {
  InterfaceSel = sel;
}

void Engine::DelayChoiceChanged(int index) {
  if (MainState.load() != 0) {
    SetDelays(index, index);
  }
}

void Engine::SetBootServerLimits(const BootServerParams& limits) {
  op_.BootServerLimits = limits;
}

bool Engine::PostAction(int32_t code) {
  if (MainState.load(std::memory_order_acquire) != 0) {
    return false;
  }
  // While MainState is 0 the worker reads neither the inputs nor the code;
  // it reads them only after it has seen the 2 written below.
  Inputs = Log.Panel().ReadInputs();
  ActionCode.store(code, std::memory_order_relaxed);
  uint8_t idle = 0;
  const bool accepted = MainState.compare_exchange_strong(idle, 2, std::memory_order_acq_rel);
  Wake.Signal();
  return accepted;
}

void Engine::SetMainState(uint8_t from, uint8_t to) {
  uint8_t expected = from;
  MainState.compare_exchange_strong(expected, to, std::memory_order_acq_rel);
}

void Engine::SetDelays(int32_t mainDelay, int32_t recvDelay) {
  MainThreadDelay = mainDelay;
  link_.RecvThreadDelay = recvDelay;
}

bool Engine::RunPass() {
  if (Log.Barred()) {
    return false;
  }
  bool moved = MainStep();
  // A thread barred in the middle of a pass takes no further step.
  const auto step = [this, &moved](const auto& machine) {
    if (!Log.Barred()) {
      moved = machine() || moved;
    }
  };
  step([this] { return machines_.VerCfg && machines_.VerCfg(op_); });
  step([this] { return machines_.Eeprom && machines_.Eeprom(op_); });
  step([this] { return RunProcedure(); });
  // The line exchange sits between the procedure that posts its lines and
  // the UDP channel that carries them.
  step([this] { return machines_.Line && machines_.Line(link_); });
  step([this] { return machines_.Broadcast && machines_.Broadcast(link_); });
  step([this] { return machines_.UDP && machines_.UDP(link_); });
  if (!Log.Barred()) {
    UpdateProgress();
  }
  return moved;
}

bool Engine::RunProcedure() {
  const DispatcherRecord before = Dispatcher;
  bool moved = false;
  switch (Dispatcher.ProcState) {
    case 0:
      break;
    case 1:
      Dispatcher.ProcDone = 0;
      op_.Step.Busy = 1;
      Dispatcher.ProcState = 2;
      break;
    case 2: {
      uint8_t next = 2;
      if (op_.Step.Busy == 0) {
        next = (op_.Step.Done == 1) ? 3 : STEP_FAIL;
      }
      // The procedure is called even in the pass that noticed its end; an
      // ended procedure ignores the call.
      if (Dispatcher.ProcStep > 4) {
        op_.Step.Busy = 0;
        next = STEP_FAIL;
      } else if (machines_.Procedures[Dispatcher.ProcStep]) {
        moved = machines_.Procedures[Dispatcher.ProcStep](op_);
      }
      Dispatcher.ProcState = next;
      break;
    }
    case 3:
      Dispatcher.ProcState = STEP_OK;
      break;
    case STEP_OK:
      Dispatcher.ProcDone = 1;
      Dispatcher.ProcState = STEP_END;
      break;
    case STEP_FAIL:
      Dispatcher.ProcDone = 0;
      Dispatcher.ProcState = STEP_END;
      break;
    default:
      Dispatcher.ProcState = 0;
      break;
  }
  return moved || Dispatcher != before;
}

void Engine::UpdateProgress() {
  int32_t value = op_.Progress.load();
  if (value == ProgressShown) {
    return;
  }
  if (value > 100) {
    value = 100;
    op_.Progress = value;
  }
  Log.SetGauge(value);
  ProgressShown = value;
}

int Engine::Load_UpgradeFile() {
  return kova::Load_UpgradeFile(WorkDir, Log, Buf, run_jumptobootloade_flag);
}

bool Engine::MainThread() {
  if (Log.Barred()) {
    return false;
  }
  const int32_t delay = MainThreadDelay.load();
  if (delay > 0) {
    RunPass();
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return true;
  }
  // As fast as the board answers, without spinning: the next pass at once
  // while a machine moves, else a wait for something to happen.
  if (!RunPass()) {
    Wake.Wait(std::chrono::milliseconds(1));
  }
  return true;
}

void Engine::StartThreads() {
  if (Worker.Started() || shutDown_) {
    return;
  }
  MainState = 1;
  Worker.Start([this] { return MainThread(); });
  Receiver.Start([this] {
    if (Log.Barred()) {
      return false;
    }
    RecvPass(link_);
    return true;
  });
}

void Engine::ShutdownAll() {
  if (shutDown_) {
    return;
  }
  shutDown_ = true;

  // The threads first, so that nothing they do can race the clean-up below:
  // a worker that installed a neighbour entry or opened a socket after the
  // clean-up looked would leave it behind.
  bool stuck = false;
  if (Worker.Started()) {
    Worker.Quit = 1;
    Wake.Signal();
    Log.Panel().ReleaseMessageBox();
    if (!Worker.Stop(timings_.joinBound)) {
      // Barred at once: no further step and no panel call from it.
      Log.Bar();
      stuck = true;
    }
  }
  // After the worker, which alone starts it. Stopped, the server closes
  // its sockets itself, so none stays bound past this point.
  if (!op_.StopBootServer()) {
    Log.Bar();
    stuck = true;
  }
  Receiver.Quit = 1;
  Net->SignalWake(link_.RecvWake);
  if (!Receiver.Stop(timings_.joinBound)) {
    Log.Bar();
    stuck = true;
  }
  MainState = 0;
  if (stuck) {
    // A thread still inside a call may yet touch what follows; the clean-up
    // waits for the destructor, which joins it first.
    releasePending_ = true;
    return;
  }
  ReleaseHostState();
}

void Engine::ReleaseHostState() {
  op_.ReleaseEntry();
  link_.BroadcastSocket_Close();
  link_.UDPSocket_Close();
  link_.Net_Cleanup();
}

}  // namespace kova
