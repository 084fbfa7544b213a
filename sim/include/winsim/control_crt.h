// The control API of the simulated C runtime: its assertion reports. Not part of Windows.
#pragma once

#include <string>
#include <vector>

namespace winsim {

// Assertion reports (_wassert). Fatal by default, as on Windows; a test that provokes one
// on purpose makes them non-fatal and reads them back as "expression|file|line".
void SetAssertionsFatal(bool fatal);
std::vector<std::string> Assertions();

}  // namespace winsim
