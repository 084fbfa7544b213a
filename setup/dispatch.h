// The command table: picks the row for the argument vector and runs its command.
#pragma once

namespace devsetup {

// Returns the exit code; a command line that takes no row prints "invalid arguments!" and
// returns 0.
int RunCommandLine(int argc, char* argv[]);

}  // namespace devsetup
