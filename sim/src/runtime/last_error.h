// How a simulated call reports failure through the calling thread's last error.
#pragma once

#include "winsim/sdk/winbase.h"

namespace winsim::detail {

// Sets the last error and returns the call's failure value: FALSE, or a null handle or address.
template <typename Result = BOOL>
Result Fail(DWORD error) {
  SetLastError(error);
  return Result{};
}

}  // namespace winsim::detail
