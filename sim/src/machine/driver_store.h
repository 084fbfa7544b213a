// The driver store: INF files copied into the system INF folder under oemNN.inf names.
#pragma once

#include <string>
#include <vector>

#include "winsim/sdk/minwindef.h"
#include "winsim/control_device_records.h"

namespace winsim::detail {

// Puts an INF's text into the store, or finds the identical one already there; returns the
// published name ("oem3.inf") and whether it was already present.
std::string PublishInf(const std::string& contents, const std::string& sourcePath, const std::string& mediaLocation,
                       bool* alreadyPresent);
// The published name of an identical INF in the store; empty when there is none.
std::string FindPublishedInf(const std::string& contents);

std::vector<DriverStoreEntry> StoreEntries();
void RestoreStoreEntries(const std::vector<DriverStoreEntry>& entries);

}  // namespace winsim::detail
