#include "protocol/channel_settle.h"

#include "controller/engine.h"

namespace kova {

namespace {

constexpr int kSettleCountdown = 3;
constexpr int kPaceCountdown = 8;
constexpr int32_t kSettleTicks = 20;  // 2 s
constexpr int32_t kPaceTicks = 10;    // one gauge step per second
constexpr int32_t kProgressPerStep = 50;
constexpr int32_t kLastProgressStep = 2;

}  // namespace

void Settle_Start(Engine& e) {
  e.ProgressStep = 0;
  e.Progress = 0;
  e.Countdown.Set(kPaceCountdown, 0);
  e.Countdown.Set(kSettleCountdown, kSettleTicks);
}

void Settle_Skip(Engine& e) {
  e.Countdown.Set(kSettleCountdown, 0);
}

bool Settle_Step(Engine& e) {
  if (e.Countdown.Get(kSettleCountdown) == 0) {
    return true;
  }
  if (e.Countdown.Get(kPaceCountdown) == 0) {
    if (e.ProgressStep == 0 || e.ProgressStep == 1) {
      ++e.ProgressStep;
      e.Progress = kProgressPerStep * e.ProgressStep;
    } else {
      e.ProgressStep = kLastProgressStep;
      e.Progress = kProgressPerStep * kLastProgressStep;
    }
    e.Countdown.Set(kPaceCountdown, kPaceTicks);
  }
  return false;
}

}  // namespace kova
