#include "controller/engine.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/countdown_slots.h"
#include "config/config_file.h"
#include "controller/dispatcher.h"
#include "hostnet/adapter_list.h"
#include "hostnet/neighbour_table.h"
#include "hostnet/static_arp.h"
#include "maintenance/maintenance_machines.h"
#include "platform/host_errors.h"
#include "procedures/procedures.h"
#include "protocol/channels.h"
#include "protocol/line_exchange.h"
#include "protocol/receive_path.h"

namespace kova {

std::string ActionName(int32_t code) {
  switch (code) {
    case kActionUpgrade:
      return "upgrade";
    case kActionGetVersion:
      return "version";
    case kActionConfigReset:
      return "config-reset";
    case kActionGetModelName:
      return "model-name";
    case kActionSetModelName:
      return "set-model-name";
    case kActionGetEeprom:
      return "eeprom";
    case kActionDryRun:
      return "dry-run";
    default:
      return "action " + std::to_string(code);
  }
}

Engine::Engine(OperatorPanel& panel, std::string workDir, std::unique_ptr<NetPlatform> net,
               std::unique_ptr<NeighbourTable> neighbours, EngineTimings timings)
    : WorkDir(std::move(workDir)),
      Log(panel),
      Net(net ? std::move(net) : MakeNetPlatform()),
      Neighbours(neighbours ? std::move(neighbours) : MakeHostNeighbourTable()),
      link(Link::Uses{Log, Countdown, Buf, *Net, DeviceIP, DeviceMAC, Adapters, InterfaceSel,
                      InterfaceCount, Progress, ProgressStep, &Wake}),
      timings_(timings) {
  Buf.AllocSharedBuffers();
  Countdown.ClearCountdowns();
  VerCfgMachine = VerCfg_applay;
  EepromMachine = Eeprom_applay;
  LineMachine = [](Engine& e) { Line_applay(e.link); };
  BroadcastMachine = [](Engine& e) { Broadcast_applay(e.link); };
  UDPMachine = [](Engine& e) { UDP_applay(e.link); };
  Procedures = {JumpToBootloader_Step, WaitForBootUp_Step, BootloaderUpgrade_Step, AppUpgrade_Step,
                RemoteUpdate_Step};
  link.RecvWake = Net->OpenWake();
  bootWake_ = Net->OpenWake();
}

Engine::~Engine() {
  ShutdownAll();
  // A thread that missed the bound is barred from every step and panel
  // call, so it leaves as soon as its current call returns. A late worker
  // may have started a server after shutdown looked.
  const auto bound = timings_.finalBound;
  const bool worker = Worker.Reap(bound);
  const bool server = BootServerThread.Stop(bound);
  const bool receiver = Receiver.Reap(bound);
  if (!worker || !server || !receiver) {
    // Still inside a call that does not return: leaving would free what it
    // uses, waiting would hang the program for ever.
    std::fputs("kova-upgrade: a thread did not stop; ending the program\n", stderr);
    std::_Exit(1);
  }
  if (releasePending_) {
    releasePending_ = false;
    ReleaseHostState();
  }
  for (const int wake : {link.RecvWake.load(), bootWake_}) {
    if (wake >= 0) {
      Net->Close(wake);
    }
  }
}

void Engine::LoadAdapters() {
  Load_AdapterList(Adapters);
  InterfaceCount = Adapters.Count;
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
  link.RecvThreadDelay = recvDelay;
}

void Engine::RunPass() {
  // The line exchange sits between the procedure that posts its lines and
  // the UDP channel that carries them.
  const Machine* lower[] = {&VerCfgMachine, &EepromMachine,    nullptr,
                            &LineMachine,   &BroadcastMachine, &UDPMachine};
  if (Log.Barred()) {
    return;
  }
  MainStep();
  for (const Machine* m : lower) {
    if (Log.Barred()) {
      return;
    }
    if (m == nullptr) {
      RunProcedure(*this);
    } else if (*m) {
      (*m)(*this);
    }
  }
  UpdateProgress();
}

void Engine::UpdateProgress() {
  int32_t value = Progress.load();
  if (value == ProgressShown) {
    return;
  }
  if (value > 100) {
    value = 100;
    Progress = value;
  }
  Log.SetGauge(value);
  ProgressShown = value;
}

void Engine::EnterPhase(OperationPhase phase, uint32_t imageBytes) {
  if (Log.Barred()) {
    return;
  }
  PhaseNote note;
  note.phase = phase;
  note.imageBytes = imageBytes;
  note.macKnown = macKnown_;
  if (macKnown_) {
    std::memcpy(note.mac.data(), DeviceMAC, sizeof(DeviceMAC));
  }
  note.addressKnown = addressKnown_;
  if (addressKnown_) {
    std::memcpy(note.address.data(), DeviceIP, sizeof(DeviceIP));
  }
  Log.Panel().PhaseChanged(note);
}

void Engine::PostVerCfg(int32_t op) {
  if (VerCfgState == 0) {
    VerCfgOp = op;
    VerCfgState = 1;
  }
}

void Engine::PostEeprom(int32_t op) {
  if (EepromState == 0) {
    EepromOp = op;
    EepromState = 1;
  }
}

void Engine::NoteFailure(FailReason reason) {
  if (failReason_ == FailReason::kNone) {
    failReason_ = reason;
  }
}

void Engine::NoteNeighbourFailure(int err) {
  NoteFailure(host_error::Denied(err) ? FailReason::kNeighbourDenied
                                      : FailReason::kNeighbourFailed);
}

void Engine::SetBootProgress(int value) {
  if (value == -1) {
    Countdown.Set(countdown::kBootWait, 0);
  } else {
    Progress = value;
  }
}

int Engine::Load_UpgradeFile() {
  return kova::Load_UpgradeFile(WorkDir, Log, Buf, run_jumptobootloade_flag);
}

Engine::PassFootprint Engine::Footprint() const {
  return {MainState.load(),
          VerCfgState,
          EepromState,
          ProcState,
          StepBusy,
          link.BroadcastState,
          link.UDPState,
          link.BroadcastDecodeState,
          link.UDPDecodeState,
          link.UDPMsgState,
          Buf.BroadcastRxRead.load(std::memory_order_relaxed),
          Buf.UDPRxRead.load(std::memory_order_relaxed),
          static_cast<uint32_t>(Progress.load()),
          static_cast<uint32_t>(JumpRetries),
          link.LineState,
          Isp.IspStep,
          Isp.IspState,
          static_cast<uint32_t>(Isp.EraseCmd),
          static_cast<uint32_t>(Isp.IspLine),
          Isp.IspBlockOffset,
          static_cast<uint32_t>(Isp.IspHalf)};
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
  // while the machines move, else a wait for something to happen.
  const PassFootprint before = Footprint();
  RunPass();
  if (Footprint() == before) {
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
    RecvPass(link);
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
  if (!StopBootServer()) {
    Log.Bar();
    stuck = true;
  }
  Receiver.Quit = 1;
  Net->SignalWake(link.RecvWake);
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
  // A failed removal is shown once, unless the idle step has already shown
  // it: the operator should know that an entry stays behind.
  if (StaticArpAdded == 1 && kova::Delete_StaticARP(Log, *Neighbours, StaticArpIfIndex, StaticArpIP,
                                                    StaticArpMAC, !arpDeleteFailing_) == 1) {
    StaticArpAdded = 0;
  }
  link.BroadcastSocket_Close();
  link.UDPSocket_Close();
  link.Net_Cleanup();
}

}  // namespace kova
