// Machine-wide state of device installation: the caller's rights, whether finishing an
// installation needs a restart, and installations still pending.
#pragma once

#include "runtime/internal.h"

namespace winsim::detail {

bool CallerIsAdministrator();
bool RestartNeededAfterInstall();

struct InstallState {
  bool elevated = true;
  bool restartNeeded = false;
  unsigned pendingInstalls = 0;
};
InstallState CurrentInstallState();
void RestoreInstallState(const InstallState& state);

}  // namespace winsim::detail
