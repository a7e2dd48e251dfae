#pragma once

#include <cstdint>
#include <string>

namespace kova {

// The operations a front end posts to the engine.
enum ActionCodes : int32_t {
  kActionUpgrade = 0,
  kActionGetVersion = 2,
  kActionConfigReset = 3,
  kActionGetModelName = 7,
  kActionSetModelName = 8,
  kActionGetEeprom = 9,
  // The upgrade's checks and the board's version and platform, then the
  // plan of what an upgrade would do; nothing that changes the board.
  kActionDryRun = 10,
};

struct ActionInfo {
  int32_t code;
  const char* name;  // as the command line takes it and the log writes it
  bool commandWord;  // an ACTION of the command line (the dry run is an option)
};

// Every action, in the order the command line lists them.
constexpr ActionInfo kActions[] = {
    {kActionUpgrade, "upgrade", true},
    {kActionGetVersion, "version", true},
    {kActionConfigReset, "config-reset", true},
    {kActionGetModelName, "model-name", true},
    {kActionSetModelName, "set-model-name", true},
    {kActionGetEeprom, "eeprom", true},
    {kActionDryRun, "dry-run", false},
};

// "upgrade", "version", ..., "dry-run"; "action N" for any other code.
std::string ActionName(int32_t code);

}  // namespace kova
