#include "support/machine.h"

#include <doctest/doctest.h>

namespace testing {

Machine::Machine() { winsim::Reset(); }

Machine::~Machine() {
  CHECK_MESSAGE(winsim::LiveHandleCount() == baseline, "handles leaked by the test");
  winsim::Reset();
}

}  // namespace testing
