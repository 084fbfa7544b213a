// devsetup's commands, run through its command line as the package installer starts it, and
// classhook's entry point, called as the device installer calls it to choose the best driver;
// and the platform calls each must make on its machine (benchmarks/install_machine.h).
#pragma once

#include <string>

#include "benchmarks/operations.h"

namespace bench {

// Their names as operations; the size is the machine's other devices, or other driver nodes
// for the entry point.
inline const char* const kInstallOperations[] = {"UpdateDriverForPnpDev", "UpdateDriverForModels",
                                                 "ReinstallDriverForUnpluggedModels", "InstallOemInfs",
                                                 "ClassCoInstaller_Entry"};
bool IsInstallOperation(const std::string& name);

// Runs it once on its machine (built when another is current); false when it did not end
// with the result it has on that machine.
bool RunInstallOperation(const Operation& operation);
Counts RequiredInstallCalls(const Operation& operation);

}  // namespace bench
