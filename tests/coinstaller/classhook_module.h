// classhook.dll loaded as the device installer and rundll32 load it: through LoadLibraryA,
// its exports found with GetProcAddress.
#pragma once

#include <string>

#include "winsim/sdk.h"

namespace testing {

typedef DWORD(CALLBACK* CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
typedef void(CALLBACK* RundllEntry)(HWND, HINSTANCE, LPSTR, int);

// Loads the library with GetModuleFileNameA reporting `windowsPath` for it; frees it again
// when destroyed.
class ClassHook {
 public:
  explicit ClassHook(const std::string& windowsPath = "C:\\Windows\\System32\\classhook.dll");
  ~ClassHook();
  ClassHook(const ClassHook&) = delete;
  ClassHook& operator=(const ClassHook&) = delete;

  HMODULE module = nullptr;
  CoInstallerEntry entry = nullptr;
  RundllEntry registerExport = nullptr;
  RundllEntry unregisterExport = nullptr;
  RundllEntry unregisterOldExport = nullptr;

  // Runs a registration export with this command line, as rundll32 would.
  static void Run(RundllEntry exportFunction, const std::string& commandLine);
};

}  // namespace testing
