#pragma once

namespace kova {

class Operation;

// The version / configuration-default machine (broadcast commands) and the
// EEPROM / model-name machine (unicast commands), one step per call; each
// says whether the step moved anything it owns.
bool VerCfg_applay(Operation& op);
bool Eeprom_applay(Operation& op);

}  // namespace kova
