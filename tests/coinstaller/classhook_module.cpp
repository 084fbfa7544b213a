#include "coinstaller/classhook_module.h"

#include <doctest/doctest.h>

#include <vector>

#include "winsim/control.h"

namespace testing {
namespace {

template <typename Function>
Function Export(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  REQUIRE_MESSAGE(reinterpret_cast<void*>(proc) != nullptr, name);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(proc));
}

}  // namespace

ClassHook::ClassHook(const std::string& windowsPath) {
  winsim::SetModulePath("classhook.dll", windowsPath);
  module = LoadLibraryA("classhook.dll");
  REQUIRE(module != nullptr);
  entry = Export<CoInstallerEntry>(module, "ClassCoInstaller_Entry");
  registerExport = Export<RundllEntry>(module, "ClassCoInstaller_Register");
  unregisterExport = Export<RundllEntry>(module, "ClassCoInstaller_Unregister");
  unregisterOldExport = Export<RundllEntry>(module, "ClassCoInstaller_UnregisterOld");
}

ClassHook::~ClassHook() { CHECK(FreeLibrary(module)); }

void ClassHook::Run(RundllEntry exportFunction, const std::string& commandLine) {
  // rundll32 hands over a writable copy of the rest of its command line.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  exportFunction(nullptr, nullptr, line.data(), 1);  // SW_SHOWNORMAL
}

}  // namespace testing
