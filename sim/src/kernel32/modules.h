// The module table as the simulated system modules reach it.
#pragma once

#include <string>
#include <vector>

#include "winsim/control.h"

namespace winsim::detail {

// A module that is part of every machine (ksuser.dll): Reset brings it back, at the same
// address, after a test removed it or one of its procedures.
void RegisterSystemModule(const std::string& name, const std::vector<ModuleExport>& exports);

}  // namespace winsim::detail
