#include "controller/engine.h"
#include "maintenance/maintenance_machines.h"

namespace kova {

// Until the network layer exists a posted request ends at once, failed, so
// that no operation waits on it.
void VerCfg_applay(Engine& e) {
  if (e.VerCfgState != 0) {
    e.VerCfgDone = 0;
    e.VerCfgState = 0;
  }
}

void Eeprom_applay(Engine& e) {
  if (e.EepromState != 0) {
    e.EepromDone = 0;
    e.EepromState = 0;
  }
}

}  // namespace kova
