// Test helpers around the simulated machine.
#pragma once

#include "support/wait_until.h"
#include "winsim/control.h"

namespace testing {

// Resets the simulated machine on construction; on destruction checks that the test left
// no handle open and resets again.
class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Handles that the test itself keeps open until the end (and so does not count as leaks).
  size_t baseline = 0;
};

}  // namespace testing
