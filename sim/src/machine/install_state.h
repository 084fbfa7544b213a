// Machine-wide state of device installation: the caller's rights, whether finishing an
// installation needs a restart, and installations still pending.
#pragma once

#include "winsim/sdk/minwindef.h"

namespace winsim::detail {

bool CallerIsAdministrator();
bool RestartNeededAfterInstall();

struct InstallState {
  bool elevated = true;
  bool restartNeeded = false;
  unsigned pendingInstalls = 0;
};
InstallState CurrentInstallState();
// Installations still pending; CMP_WaitNoPendingInstallEvents waits for none. Lock held.
unsigned PendingInstallsLocked();
void RestoreInstallState(const InstallState& state);

}  // namespace winsim::detail
