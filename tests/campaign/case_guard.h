// Bounds and crash reports for one run of a campaign: a run that takes longer than its limit
// is reported as a hang and ends the process; a crash or sanitizer report names the run.
#pragma once

#include <chrono>
#include <string>

namespace campaign {

// Names the run in progress for the crash and hang reports (and installs them once).
void BeginCase(const std::string& label, std::chrono::seconds limit);
void EndCase();

// Memory that the run allocated and nobody can reach any more. Only AddressSanitizer builds
// can tell; elsewhere it reports no leak.
bool LeakedMemory();

}  // namespace campaign
