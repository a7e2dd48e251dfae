#pragma once

#include <cstdint>

namespace kova {

// End states shared by every request channel: the machine records its result
// in STEP_OK or STEP_FAIL, and STEP_END returns it to idle on the next step.
constexpr uint8_t STEP_OK = 0xF0;
constexpr uint8_t STEP_FAIL = 0xFE;
constexpr uint8_t STEP_END = 0xFF;

}  // namespace kova
