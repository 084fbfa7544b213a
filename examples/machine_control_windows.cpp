#include "machine_control.h"

namespace machine_control {

void Prepare() {}

bool CanScriptHotplug() { return false; }

void UnplugHiddenPortDevice() {}

void ReplugHiddenPortDevice() {}

}  // namespace machine_control
