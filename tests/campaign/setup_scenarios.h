// devsetup's commands as the package installer runs them, for the fault sweep.
#pragma once

#include <vector>

#include "campaign/sweep.h"

namespace campaign {

std::vector<ScenarioEntry> SetupScenarios();

}  // namespace campaign
