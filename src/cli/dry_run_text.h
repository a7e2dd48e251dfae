#pragma once

#include <string>
#include <vector>

#include "common/operation_events.h"

namespace kova::cli {

struct PlanContext {
  std::string interfaceName;
  int tickMs = 100;
};

// What a dry run prints: the board, the configuration and the numbered
// steps an upgrade would take.
std::vector<std::string> PlanLines(const UpgradePlan& plan, const PlanContext& context);

// The steps of the remote road (configuration REMOTE), kept apart: that
// road is the board's own application writing the image it is sent.
std::vector<std::string> RemoteRoadSteps(const UpgradePlan& plan);

// "isp", "boot-server" or "remote".
const char* RoadName(const UpgradePlan& plan);

}  // namespace kova::cli
