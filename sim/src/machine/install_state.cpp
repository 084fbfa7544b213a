// Machine-wide installation state and CMP_WaitNoPendingInstallEvents.
#include "machine/install_state.h"

#include <chrono>

#include "winsim/sdk/cfgmgr32.h"
#include "winsim/control_device_records.h"

namespace winsim::detail {
namespace {

// Never destroyed: a process handing its machine back at exit reads it after static destructors.
InstallState& State() {
  static InstallState* state = new InstallState;
  return *state;
}

ResetRegistration resetInstallState([] {
  std::lock_guard guard(Lock());
  State() = InstallState{};
});

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

extern "C" DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout) {
  using namespace winsim::detail;
  DWORD error = 0;
  if (ConsumeFault("CMP_WaitNoPendingInstallEvents", &error)) {
    SetLastError(error);
    return WAIT_FAILED;
  }
  std::unique_lock lock(Lock());
  auto none = [] { return State().pendingInstalls == 0; };
  if (dwTimeout == INFINITE) {
    StateChanged().wait(lock, none);
  } else if (!StateChanged().wait_for(lock, std::chrono::milliseconds(dwTimeout), none)) {
    return WAIT_TIMEOUT;
  }
  return WAIT_OBJECT_0;
}
