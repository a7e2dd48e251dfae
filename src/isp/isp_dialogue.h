#pragma once

#include <atomic>
#include <cstdint>
#include <tuple>

#include "common/operation_events.h"

namespace kova {

class Link;

// The flash region the application occupies on an old-platform board:
// sectors 2 to 29, from 8192 to the end of the 512 KiB flash. It is always
// programmed whole.
constexpr uint32_t kIspRegionSize = 516096;
constexpr uint32_t kIspRegionStart = 8192;

// The progress the dialogue shows on the gauge.
struct IspProgress {
  std::atomic<int32_t>& Progress;
  int32_t& ProgressStep;
};

// The bootloader dialogue of an old-platform board: numbered steps run one
// after the other, each a small machine that does one tick of work per call,
// over the line-exchange channel of the link.
//
// Every step follows one convention: the caller sets IspState = 1; the step
// announces itself, runs its states, and ends in STEP_OK (IspDone = 1) or
// STEP_FAIL (IspDone = 0, "Failed !======" after its announcement), then
// STEP_END and 0. Each step names the step to run after it in IspNextStep.
//
//   1 upgrade request        "?"             -> 3 (already synchronised) or 2
//   2 upgrade synchronized   "Synchronized"  -> 3
//   3, 4 device identify     "J", two lines  -> 4, 5
//   5 bootloader version     "b"             -> 6
//   6 erase                  sectors 29..2   -> 7
//   7 program                504 blocks      -> 8
//   8, 9, 10 empty steps                     -> 9, 10, 11
//
// The dialogue has succeeded once a step names a successor above 9.
class IspDialogue {
 public:
  IspDialogue(Link& theLink, IspProgress theProgress) : link(theLink), progress(theProgress) {}
  IspDialogue(const IspDialogue&) = delete;
  IspDialogue& operator=(const IspDialogue&) = delete;

  Link& link;
  IspProgress progress;
  // The image programmed by step 7: kIspRegionSize bytes are read from it.
  const uint8_t* Image = nullptr;

  uint8_t IspStep = 0;
  uint8_t IspNextStep = 0;
  uint8_t IspState = 0;
  int32_t IspDone = 0;
  // Set by a step that knows better why it failed than the last exchange.
  FailReason Reason = FailReason::kNone;

  // Erase step.
  int32_t EraseSector = 0;
  int32_t EraseSectorEnd = 0;
  int32_t EraseCmd = 0;

  // Programming step.
  uint32_t IspBlockOffset = 0;
  int32_t IspHalf = 0;
  const uint8_t* IspHalfPtr = nullptr;
  uint32_t IspChecksum = 0;
  int32_t IspLine = 0;
  int32_t IspTextPos = 0;
  int32_t IspRetries = 0;

  // The dialogue's own values, to tell whether a step moved.
  auto Record() const {
    return std::make_tuple(Image, IspStep, IspNextStep, IspState, IspDone, Reason, EraseSector,
                           EraseSectorEnd, EraseCmd, IspBlockOffset, IspHalf, IspHalfPtr,
                           IspChecksum, IspLine, IspTextPos, IspRetries);
  }
};

// One tick of step `step` (1 to 10); any other number does nothing.
void RunIspStep(IspDialogue& isp, int step);

// Whether an image of `length` bytes can be programmed without losing any of
// it: it fits the region, or everything past the region is erased flash
// (0xFF), which programming leaves as it is.
bool IspImageFitsRegion(const uint8_t* image, int32_t length);

}  // namespace kova
