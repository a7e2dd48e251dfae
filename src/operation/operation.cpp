#include "operation/operation.h"

#include <cstring>

#include "common/countdown_slots.h"
#include "platform/host_errors.h"

namespace kova {

Operation::Operation(const Uses& uses)
    : Log(uses.log),
      Countdown(uses.countdown),
      Buf(uses.buf),
      link(uses.link),
      Net(uses.net),
      Neighbours(uses.neighbours),
      Adapters(uses.adapters),
      interfaceSel_(uses.interfaceSel),
      interfaceCount_(uses.interfaceCount),
      timings_(uses.timings) {
  bootWake_ = Net.OpenWake();
}

Operation::~Operation() {
  StopBootServer();
  if (bootWake_ >= 0) {
    Net.Close(bootWake_);
  }
}

void Operation::PostVerCfg(int32_t op) {
  if (VerCfg.State == 0) {
    VerCfg.Op = op;
    VerCfg.State = 1;
  }
}

void Operation::PostEeprom(int32_t op) {
  if (Eeprom.State == 0) {
    Eeprom.Op = op;
    Eeprom.State = 1;
  }
}

void Operation::Begin() {
  failReason_ = FailReason::kNone;
  macKnown_ = false;
  addressKnown_ = false;
  link.DeviceIPPinned = 0;
}

void Operation::NoteFailure(FailReason reason) {
  if (failReason_ == FailReason::kNone) {
    failReason_ = reason;
  }
}

void Operation::NoteNeighbourFailure(int err) {
  NoteFailure(host_error::Denied(err) ? FailReason::kNeighbourDenied
                                      : FailReason::kNeighbourFailed);
}

void Operation::EnterPhase(OperationPhase phase, uint32_t imageBytes) {
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

void Operation::SetBootProgress(int value) {
  if (value == -1) {
    Countdown.Set(countdown::kBootWait, 0);
  } else {
    Progress = value;
  }
}

}  // namespace kova
