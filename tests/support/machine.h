// Test helpers around the simulated machine.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

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

// Waits, with a bound, until `condition` holds; returns whether it did.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

}  // namespace testing
