#include "controller/dispatcher.h"
#include "procedures/procedures.h"

namespace kova {

// Procedures that need the network layer; until it exists they fail at once.
void RemoteUpdate_Step(Engine& e) {
  StubProcedure(e);
}

}  // namespace kova
