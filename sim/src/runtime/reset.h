// The one lock over the simulated machine's state, and what Reset and a thread's end run.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "winsim/sdk/minwindef.h"

namespace winsim::detail {

// One lock and one condition guard every waitable state change, so a wait can never miss
// a wake-up. Nothing calls into deliverable code while holding it.
std::mutex& Lock();
std::condition_variable& StateChanged();

// Areas register what Reset must clear and what happens when a simulated thread ends.
void OnReset(std::function<void()> hook);
void OnThreadExit(std::function<void(DWORD threadId)> hook);
void RunThreadExitHooks(DWORD threadId);

// Registers a hook at static-initialisation time.
struct ResetRegistration {
  explicit ResetRegistration(std::function<void()> hook) { OnReset(std::move(hook)); }
};

// The state of one area, reached as State() (or a name of its own): made on first use, since
// static initialisers of other areas may reach it first, and never destroyed, since a process
// handing its machine back at exit and threads ending then still read it. Every Reset sets it
// back to a fresh T under the lock; defined at namespace scope, it registers that in link order.
// One instance per type: T is the area's own (or a container of the area's own elements).
template <typename T>
struct AreaState {
  AreaState() {
    OnReset([this] {
      std::lock_guard guard(Lock());
      (*this)() = T{};
    });
  }
  T& operator()() {
    static T* state = new T;
    return *state;
  }
};

}  // namespace winsim::detail
