#pragma once

#include <cstdint>
#include <string>

namespace kova {

// The run step of line 2: the hexadecimal value of its one character, 255 for
// any other single character. Returns false (step 0) unless the line is
// exactly one UTF-8 character.
bool ParseRunStep(const std::string& line, int& run_step);

// The jump-to-bootloader setting of line 3: ENABLE 0, DISABLE 3, REMOTE 4.
// Any other text gives 3 and false.
bool ParseJumpSetting(const std::string& line, int32_t& flag);
constexpr int32_t kJumpEnable = 0;
constexpr int32_t kJumpDisable = 3;
constexpr int32_t kJumpRemote = 4;

// Where an application image carries its platform's mark, the bytes AA 55.
constexpr int32_t kNewPlatformMarkOffset = 0x13E;
constexpr int32_t kOldPlatformMarkOffset = 0x7CFF0;

}  // namespace kova
