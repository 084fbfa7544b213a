// The client library's host scenarios for the fault sweep.
#pragma once

#include <vector>

#include "campaign/sweep.h"

namespace campaign {

std::vector<ScenarioEntry> ClientScenarios();

}  // namespace campaign
