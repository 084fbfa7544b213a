// Waiting for what another thread brings about, with a bound instead of a hang.
#pragma once

#include <chrono>
#include <functional>

namespace testing {

// Waits, with a bound, until `condition` holds; returns whether it did.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

}  // namespace testing
