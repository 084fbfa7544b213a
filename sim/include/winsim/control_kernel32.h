// The control API of the simulated kernel32: debugger output, the ANSI code page, Sleep
// calls and the modules LoadLibrary finds. Not part of Windows.
#pragma once

#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace winsim {

// Debugger output, one entry per OutputDebugStringA call.
std::vector<std::string> DebugOutput();
void ClearDebugOutput();

// The system code page that IsDBCSLeadByte follows: 1252 (no lead bytes, the default) or 932.
void SetAnsiCodePage(UINT codePage);

// Sleep calls made by the calling thread since the last Reset.
unsigned SleepCallsOnThisThread();

// Modules found by LoadLibraryA and LoadLibraryExA. Names compare without regard to case. Each export has a
// name (empty: by ordinal only) and an ordinal (0: one more than the export before it).
struct ModuleExport {
  std::string name;
  FARPROC address = nullptr;
  WORD ordinal = 0;
};
// RegisterModule puts the module in the system directory (C:\Windows\System32);
// RegisterApplicationModule puts one beside the host's executable, where a bare name is looked
// for first (a planted DLL), until Reset.
void RegisterModule(const std::string& name, const std::vector<ModuleExport>& exports);
void RegisterApplicationModule(const std::string& name, const std::vector<ModuleExport>& exports);
void UnregisterModule(const std::string& name);
void RemoveModuleProc(const std::string& module, const std::string& proc);
// The Windows path that GetModuleFileNameA reports for a shared library of this file name
// loaded from now on (until Reset). Without one, a library found beside the executable is
// reported in the host's directory, one loaded by a Linux path under drive Z:.
void SetModulePath(const std::string& fileName, const std::string& windowsPath);

}  // namespace winsim
