// Module lookup as a host or the client library sees it.
#include <doctest/doctest.h>

#include <cstring>

#include "support/machine.h"

namespace {
INT_PTR Answer() { return 42; }
}  // namespace

TEST_CASE("LoadLibraryA finds registered modules by file name, without regard to case") {
  testing::Machine machine;
  winsim::RegisterModule("ksuser.dll", {{"KsCreatePin", Answer}});
  for (const char* name : {"ksuser.dll", "KSUSER.DLL", "ksuser", "C:\\Windows\\System32\\KsUser.dll"}) {
    CAPTURE(name);
    HMODULE module = LoadLibraryA(name);
    REQUIRE(module != nullptr);
    FARPROC proc = GetProcAddress(module, "KsCreatePin");
    REQUIRE(reinterpret_cast<void*>(proc) != nullptr);
    CHECK(proc() == 42);
    CHECK(reinterpret_cast<void*>(GetProcAddress(module, "kscreatepin")) == nullptr);  // export names are exact
    CHECK(GetLastError() == ERROR_PROC_NOT_FOUND);
  }
  CHECK(LoadLibraryA("missing.dll") == nullptr);
  CHECK(GetLastError() == ERROR_MOD_NOT_FOUND);
  // A handle that names no loaded module finds nothing.
  HMODULE stale = LoadLibraryA("ksuser.dll");
  winsim::UnregisterModule("ksuser.dll");
  CHECK(reinterpret_cast<void*>(GetProcAddress(stale, "KsCreatePin")) == nullptr);
  CHECK(GetLastError() == ERROR_MOD_NOT_FOUND);
}

TEST_CASE("GetModuleHandleA(NULL) names the executable and GetModuleFileNameA cuts to the buffer") {
  testing::Machine machine;
  HMODULE exe = GetModuleHandleA(nullptr);
  REQUIRE(exe != nullptr);
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(exe, path, MAX_PATH);
  CHECK(length == std::strlen(path));
  CHECK(length > 4);
  char small[5];
  CHECK(GetModuleFileNameA(exe, small, sizeof small) == sizeof small);
  CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  CHECK(std::strlen(small) == sizeof small - 1);
}
