// Names compared without regard to case, as Windows compares paths, keys and module names.
#pragma once

#include <string>

namespace winsim::detail {

std::string Lower(std::string text);

}  // namespace winsim::detail
