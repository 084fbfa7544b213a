#include "runtime/text.h"

#include <algorithm>
#include <cctype>

namespace winsim::detail {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace winsim::detail
