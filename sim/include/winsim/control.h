// The simulated platform's control API: what tests and the sample host use to build a
// machine, inject faults and observe what the deliverables did. Not part of Windows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace winsim {

// Returns the platform to an empty machine: no handles, no devices, no faults, no output.
// Call only while no simulated thread is running.
void Reset();

// Debugger output, one entry per OutputDebugStringA call.
std::vector<std::string> DebugOutput();
void ClearDebugOutput();

// Number of live kernel handles, registry keys, device information sets and
// device-notification registrations.
size_t LiveHandleCount();

// Fault injection: the named call (its Win32 name, or a name documented by the area that
// checks it) fails with `error` on `times` calls after letting `skip` calls pass; times -1
// means every call from then on.
void FailCall(const std::string& api, DWORD error, int times = 1, int skip = 0);
void ClearFaults();

// Injection points reached since the last Reset or ResetCallCounts: per call name (the names
// FailCall takes), how often it was made; and how many non-throwing allocations were made.
// A fault sweep runs a scenario once clean, then fails each (name, k) in turn.
std::map<std::string, uint64_t> CallCounts();
uint64_t NothrowAllocationCount();
void ResetCallCounts();

// Non-throwing allocations (new (std::nothrow)) fail `times` times after `skip` successes.
// Only executables that link the allocation hook observe this.
void FailAllocations(int times, int skip = 0);

// Assertion reports (_wassert). Fatal by default, as on Windows; a test that provokes one
// on purpose makes them non-fatal and reads them back as "expression|file|line".
void SetAssertionsFatal(bool fatal);
std::vector<std::string> Assertions();

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
