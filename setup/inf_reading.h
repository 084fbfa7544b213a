// The INF-reading steps the section-driven commands share.
#pragma once

#include <functional>
#include <optional>

#include "platform/owners.h"

namespace devsetup {

// Opens the INF under the class its own [Version] section declares ("NULL" when it declares
// none); empty when it cannot be opened so.
UniqueInf OpenInfOfOwnClass(const char* infPath);

// Called with the model id (field 2) of one models line; a value ends the walk with that
// exit code.
using ModelLineAction = std::function<std::optional<DWORD>(const char* modelId)>;

// Walks the models section: when it is absent or has no lines, returns `codeWhenNoLines`
// without walking; otherwise runs `action` for each line in order, from index 0, and returns
// the code that ended the walk, or 0. A line whose model id cannot be read, or is empty, is
// passed over: an empty id would match every device.
DWORD WalkModelLines(HINF inf, const char* modelsSection, DWORD codeWhenNoLines, const ModelLineAction& action);

}  // namespace devsetup
