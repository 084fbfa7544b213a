// The reset of the simulated machine, its lock and the hooks areas register.
#include "runtime/reset.h"

#include <vector>

#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "winsim/control.h"

namespace winsim::detail {
namespace {

std::vector<std::function<void()>>& ResetHooks() {
  static std::vector<std::function<void()>> hooks;
  return hooks;
}

std::vector<std::function<void(DWORD)>>& ThreadExitHooks() {
  static std::vector<std::function<void(DWORD)>> hooks;
  return hooks;
}

}  // namespace

// Never destroyed: simulated threads that end while the process exits still notify them.
std::mutex& Lock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::condition_variable& StateChanged() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

void OnReset(std::function<void()> hook) { ResetHooks().push_back(std::move(hook)); }

void OnThreadExit(std::function<void(DWORD)> hook) { ThreadExitHooks().push_back(std::move(hook)); }

void RunThreadExitHooks(DWORD threadId) {
  for (auto& hook : ThreadExitHooks()) hook(threadId);
}

}  // namespace winsim::detail

namespace winsim {

void Reset() {
  using namespace detail;
  for (auto& hook : ResetHooks()) hook();
  // Destroyed here, once the lock is released.
  std::map<uintptr_t, std::shared_ptr<KernelObject>> dropped = TakeAllHandles();
  ClearFaultInjection();
}

}  // namespace winsim
