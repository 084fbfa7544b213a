// Names compared without regard to case, as Windows compares paths, keys and module names.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace winsim::detail {

inline std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace winsim::detail
