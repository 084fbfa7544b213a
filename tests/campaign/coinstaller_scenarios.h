// classhook as the device installer and rundll32 use it, for the fault sweep.
#pragma once

#include <vector>

#include "campaign/sweep.h"

namespace campaign {

std::vector<ScenarioEntry> CoInstallerScenarios();

}  // namespace campaign
