#include "support/machine.h"

#include <doctest/doctest.h>

#include <thread>

namespace testing {

Machine::Machine() { winsim::Reset(); }

Machine::~Machine() {
  CHECK_MESSAGE(winsim::LiveHandleCount() == baseline, "handles leaked by the test");
  winsim::Reset();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace testing
