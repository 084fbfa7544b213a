// Helpers for the devsetup tests: machines with INF files and USB device records.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "winsim/control_device_records.h"
#include "winsim/control_files.h"

namespace setup_testing {

// A Windows-4-style INF of the given [Version] class line ("Class=MEDIA", or "" for none) whose
// models sections Models.NTamd64 and Models.NTx86 hold `modelLines` (each a whole line).
std::string ModelsInf(const std::vector<std::string>& modelLines, const std::string& classLine = "Class=MEDIA");
// Where the tests put the package's INF.
inline constexpr char kInf[] = "C:\\pkg\\tarrowin.inf";
// The models section the tests name on the command line.
inline constexpr char kModels[] = "Models.NTamd64";

// A USB device record with the given hardware ids.
DEVINST AddUsbDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds, bool present,
                     DWORD configFlags = 0);

// What `run` wrote to standard output.
std::string CaptureStandardOutput(const std::function<void()>& run);

// Calls of the named platform function made since the last winsim::ResetCallCounts.
uint64_t Calls(const std::string& api);

}  // namespace setup_testing
