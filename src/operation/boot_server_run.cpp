#include <chrono>
#include <utility>

#include "hostnet/capabilities.h"
#include "operation/operation.h"
#include "platform/host_errors.h"

namespace kova {

namespace {

// What the server is given, copied on the worker before the thread starts:
// the thread then reads nothing of the engine but the image.
struct BootServerJob {
  std::array<uint8_t, 6> mac{};
  std::array<uint8_t, 4> server{};
  std::array<uint8_t, 4> client{};
  std::string device;
  const uint8_t* image = nullptr;
  uint32_t imageLength = 0;
  BootServerParams params;
};

FailReason BootServerReason(int result, int openError) {
  switch (result) {
    case kBootServerNoBootpSocket:
    case kBootServerNoTftpSocket:
      if (openError == host_error::kAddressInUse) {
        return FailReason::kPortInUse;
      }
      return host_error::Denied(openError) ? FailReason::kPortDenied : FailReason::kSocketFailed;
    case kBootServerNoMagicSocket:
    case kBootServerNoTransferPort:
      return FailReason::kSocketFailed;
    case kBootServerNoRequest:
      return FailReason::kNoReply;
    case kBootServerNoAck:
      return FailReason::kTransferStalled;
    default:
      return FailReason::kFailed;
  }
}

void ReportBootProgress(int percent, void* context) {
  static_cast<Operation*>(context)->SetBootProgress(percent);
}

// The thread's whole life: one run of the server, its result kept for the
// worker, and UDPDone set last so that the worker sees the result with it.
void BootServer_Thread(Operation& op, const BootServerJob& job) {
  const int result = BootServer_Run(job.mac.data(), job.server, job.client, job.image,
                                    job.imageLength, &ReportBootProgress, &op,
                                    op.BootServerThread.Quit, op.Net, job.device, job.params);
  // Read on this thread, which made the failed attempt.
  op.BootServerOpenError = (result == kBootServerComplete) ? 0 : op.Net.LastOpenError();
  op.BootServerExit = result;
  op.link.UDPDone = 1;
}

}  // namespace

bool Operation::StartBootServer() {
  if (Log.Barred()) {
    return false;
  }
  if (BootServerThread.Started()) {
    if (BootServerThread.Exited.load() == 0 || !BootServerThread.Reap(timings_.joinBound)) {
      return false;
    }
  }
  const int32_t sel = interfaceSel_.load();
  if (sel < 0 || sel >= interfaceCount_.load() || sel >= AdapterTable::kMaxAdapters) {
    return false;
  }
  BootServerJob job;
  std::copy(DeviceMAC, DeviceMAC + 6, job.mac.begin());
  std::copy(DeviceIP, DeviceIP + 4, job.client.begin());
  job.server = Adapters.AdapterIP[sel];
  job.device = Adapters.AdapterDesc[sel];
  job.image = Buf.AppImage.get();
  job.imageLength = static_cast<uint32_t>(std::max<int32_t>(Buf.AppImageLen, 0));
  job.params = BootServerLimits;
  job.params.wake = bootWake_;
  job.params.trace = [this](const std::string& line) {
    std::lock_guard<std::mutex> lock(bootTraceLock_);
    bootTraces_.push_back(line);
  };
  bootServerDevice_ = job.device;
  BootServerExit = -1;
  BootServerOpenError = 0;
  link.UDPDone = 0;
  BootServerThread.Start([this, job = std::move(job)] {
    BootServer_Thread(*this, job);
    return false;
  });
  return true;
}

bool Operation::BootServerFinished() {
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(bootTraceLock_);
    lines.swap(bootTraces_);
  }
  for (const std::string& line : lines) {
    Log.AppendMessage(0, line);
  }
  return link.UDPDone.load() != 0;
}

std::string Operation::BootServerResultText() const {
  return BootServer_ResultText(BootServerExit.load(), bootServerDevice_, BootServerLimits);
}

bool Operation::BootServerPortsOpen() {
  const int32_t sel = interfaceSel_.load();
  if (sel < 0 || sel >= interfaceCount_.load() || sel >= AdapterTable::kMaxAdapters) {
    return true;  // the server's start says so, as it always has
  }
  bootServerDevice_ = Adapters.AdapterDesc[sel];
  const int result = BootServer_ProbePorts(Adapters.AdapterIP[sel], Net, bootServerDevice_);
  if (result == kBootServerComplete) {
    return true;
  }
  NoteBootServerFailure(result, Net.LastOpenError());
  return false;
}

void Operation::NoteBootServerFailure(int result, int openError) {
  NoteFailure(BootServerReason(result, openError));
  Log.Say(1, "\n    " + BootServer_ResultText(result, bootServerDevice_, BootServerLimits) + " ! ");
  if ((result == kBootServerNoBootpSocket || result == kBootServerNoTftpSocket) &&
      !Neighbours.HoldsCapability(kCapNetBindService)) {
    Log.AppendMessage(1, MissingCapabilityText(kCapNetBindService));
  }
}

bool Operation::StopBootServer() {
  if (BootServerThread.Started() && BootServerThread.Exited.load() == 0) {
    BootServerThread.Quit = 1;
    Net.SignalWake(bootWake_);
  }
  return BootServerThread.Stop(timings_.joinBound);
}

}  // namespace kova
