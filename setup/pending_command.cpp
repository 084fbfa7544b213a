// CheckPendingInstallEvents: asks, without waiting, whether device installations are pending.
#include "setup/commands.h"

namespace devsetup {

DWORD CheckPendingInstallEvents() { return CMP_WaitNoPendingInstallEvents(0) == WAIT_OBJECT_0 ? 0 : 1; }

}  // namespace devsetup
