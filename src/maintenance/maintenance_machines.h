#pragma once

namespace kova {

class Engine;

// The version / configuration-default machine (broadcast commands) and the
// EEPROM / model-name machine (unicast commands), one step per call.
void VerCfg_applay(Engine& e);
void Eeprom_applay(Engine& e);

}  // namespace kova
