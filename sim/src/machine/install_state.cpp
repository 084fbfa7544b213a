// Machine-wide installation state.
#include "machine/install_state.h"

#include "winsim/control_device_records.h"
#include "runtime/reset.h"

namespace winsim::detail {
namespace {

AreaState<InstallState> State;

}  // namespace

bool CallerIsAdministrator() {
  std::lock_guard guard(Lock());
  return State().elevated;
}

bool RestartNeededAfterInstall() {
  std::lock_guard guard(Lock());
  return State().restartNeeded;
}

InstallState CurrentInstallState() {
  std::lock_guard guard(Lock());
  return State();
}

unsigned PendingInstallsLocked() { return State().pendingInstalls; }

void RestoreInstallState(const InstallState& state) {
  std::lock_guard guard(Lock());
  State() = state;
}

}  // namespace winsim::detail

namespace winsim {

void SetCallerElevated(bool elevated) {
  std::lock_guard guard(detail::Lock());
  detail::State().elevated = elevated;
}

void SetRestartNeededAfterInstall(bool needed) {
  std::lock_guard guard(detail::Lock());
  detail::State().restartNeeded = needed;
}

void SetPendingInstalls(unsigned count) {
  {
    std::lock_guard guard(detail::Lock());
    detail::State().pendingInstalls = count;
  }
  detail::StateChanged().notify_all();
}

}  // namespace winsim
