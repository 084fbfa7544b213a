// The simulated machines the benchmarks run on: one hidden-port device, looped back, beside a
// chosen number of ordinary audio interfaces, and a connection made on the benchmark thread.
#pragma once

#include <functional>
#include <string>

#include "client/TarrowinHiddenMIDI.h"

namespace bench {

struct Machine {
  int others = -1;  // ordinary audio interfaces beside the hidden-port device
  bool loopback = true;  // the hidden port's output comes back on its input
  std::string hiddenPath;
  TarrowinHiddenMIDI::Connection* connection = nullptr;
};

// The machine with `others` ordinary audio interfaces; the current one is kept when it fits,
// so that a benchmark run many times builds its machine once. Without loopback the written
// bytes go nowhere, so that a sender alone does not pile up received bytes.
const Machine& UseMachine(int others, bool loopback = true);
// Undoes what the current machine's builder made (the connection, loaded modules) and empties
// the simulated platform.
void ReleaseMachine();

// For the builders of other machines: true when the platform holds another machine than the
// one `name` names, which has then been released and must be built; `release` is what
// ReleaseMachine undoes before emptying the platform.
bool BeginMachine(const std::string& name, std::function<void()> release);

// Destroys an object through its destructor slot, as `delete` does in a GCC-built host (the
// benchmarks are native only); null is ignored.
template <typename Interface>
void Destroy(Interface* object) {
  if (object != nullptr) object->ScalarDeletingDestructor(TarrowinHiddenMIDI::kDeleteFreesMemory);
}

}  // namespace bench
