#include "common/action_codes.h"

namespace kova {

std::string ActionName(int32_t code) {
  for (const ActionInfo& action : kActions) {
    if (action.code == code) {
      return action.name;
    }
  }
  return "action " + std::to_string(code);
}

}  // namespace kova
