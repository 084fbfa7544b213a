// The system ANSI code page as the file-reading areas use it.
#pragma once

#include <string>

namespace winsim::detail {

// A text file's contents as the ANSI ("A") calls see them: UTF-16LE text that starts with its
// byte-order mark converted to the system ANSI code page ('?' for what it cannot hold), any
// other text as it is.
std::string AnsiTextOf(const std::string& bytes);

}  // namespace winsim::detail
