#include "protocol/channel_settle.h"

#include "common/countdown_slots.h"
#include "protocol/link.h"

namespace kova {

namespace {

constexpr int32_t kSettleTicks = 20;  // 2 s
constexpr int32_t kPaceTicks = 10;    // one gauge step per second
constexpr int32_t kProgressPerStep = 50;
constexpr int32_t kLastProgressStep = 2;

}  // namespace

void Settle_Start(Link& link) {
  link.ProgressStep = 0;
  link.Progress = 0;
  link.Countdown.Set(countdown::kProgressPace, 0);
  link.Countdown.Set(countdown::kSettle, kSettleTicks);
}

void Settle_Skip(Link& link) {
  link.Countdown.Set(countdown::kSettle, 0);
}

bool Settle_Step(Link& link) {
  if (link.Countdown.Get(countdown::kSettle) == 0) {
    return true;
  }
  if (link.Countdown.Get(countdown::kProgressPace) == 0) {
    if (link.ProgressStep == 0 || link.ProgressStep == 1) {
      ++link.ProgressStep;
      link.Progress = kProgressPerStep * link.ProgressStep;
    } else {
      link.ProgressStep = kLastProgressStep;
      link.Progress = kProgressPerStep * kLastProgressStep;
    }
    link.Countdown.Set(countdown::kProgressPace, kPaceTicks);
  }
  return false;
}

}  // namespace kova
