// Hardware ids less their revision, and the model-id match of the reinstall command. Pure.
#pragma once

#include <string>

namespace devsetup {

// The id's "&"-separated pieces without those that contain "REV_" (case significant),
// joined again with "&".
std::string ReduceHardwareId(const std::string& hardwareId);

// Whether the reduced id begins with the model id, ASCII letters compared without regard to
// case and every other byte exactly.
bool ModelIdMatches(const std::string& reducedId, const std::string& modelId);

}  // namespace devsetup
