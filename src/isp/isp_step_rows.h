#pragma once

#include <cstdint>

#include "isp/isp_dialogue.h"

namespace kova {

// Rows that every ISP step shares, and the outcome of its line exchanges.

// STEP_OK: the verdict text where the step has one; IspDone = 1.
void IspStepOk(IspDialogue& isp, bool showVerdict);
// STEP_FAIL: "Failed !======" after the announcement; IspDone = 0.
void IspStepFail(IspDialogue& isp);

// Moves to `wait` if the channel took the request, else fails the step.
void IspPosted(IspDialogue& isp, int accepted, uint8_t wait);

// What became of the last line exchange.
constexpr int kExchangeRunning = -2;
constexpr int kExchangeFailed = -1;
// The index of the reply that matched, kExchangeFailed, or kExchangeRunning
// while the channel is busy. A data line that left counts as reply 0.
int IspExchangeOutcome(const IspDialogue& isp);

void RunIspProgramStep(IspDialogue& isp);
void RunIspEraseStep(IspDialogue& isp);

}  // namespace kova
