// delete through an interface, as a host does: the sample host's helper, for the tests.
#pragma once

#include "examples/delete_through_interface.h"

namespace testing {
using ::Destroy;
}  // namespace testing
