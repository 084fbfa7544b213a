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

TEST_CASE("GetProcAddress finds a simulated module's exports by ordinal") {
  testing::Machine machine;
  winsim::RegisterModule("ordinals.dll", {{"First", Answer}, {"", Answer, 7}, {"Next", Answer}});
  HMODULE module = LoadLibraryA("ordinals.dll");
  REQUIRE(module != nullptr);
  struct Case {
    uintptr_t ordinal;
    bool found;
  };
  // Ordinals follow the one before unless given; an export may have an ordinal only.
  for (Case c : {Case{1, true}, Case{7, true}, Case{8, true}, Case{2, false}, Case{0, false}, Case{0xFFFF, false}}) {
    CAPTURE(c.ordinal);
    SetLastError(0);
    FARPROC proc = GetProcAddress(module, reinterpret_cast<LPCSTR>(c.ordinal));
    CHECK((reinterpret_cast<void*>(proc) != nullptr) == c.found);
    if (!c.found) CHECK(GetLastError() == ERROR_PROC_NOT_FOUND);
  }
  CHECK(reinterpret_cast<void*>(GetProcAddress(module, "Next")) ==
        reinterpret_cast<void*>(GetProcAddress(module, reinterpret_cast<LPCSTR>(8))));
  // A removed export is gone by name and by ordinal.
  winsim::RemoveModuleProc("ordinals.dll", "First");
  CHECK(reinterpret_cast<void*>(GetProcAddress(module, reinterpret_cast<LPCSTR>(1))) == nullptr);
  winsim::FailCall("GetProcAddress", ERROR_NOT_ENOUGH_MEMORY);
  CHECK(reinterpret_cast<void*>(GetProcAddress(module, "Next")) == nullptr);
  CHECK(GetLastError() == ERROR_NOT_ENOUGH_MEMORY);
}

TEST_CASE("a bare name finds a module beside the host before the system directory's; the system path and "
          "LOAD_LIBRARY_SEARCH_SYSTEM32 never do") {
  testing::Machine machine;
  winsim::RegisterModule("planted.dll", {{"Which", Answer}});
  winsim::RegisterApplicationModule("planted.dll", {{"Which", Answer}});
  char system[MAX_PATH];
  UINT length = GetSystemDirectoryA(system, MAX_PATH);
  REQUIRE(length == std::strlen(system));
  CHECK(GetSystemDirectoryA(system, length) == length + 1);
  const std::string systemPath = std::string(system) + "\\planted.dll";
  const char kBesideHost[] = "C:\\Program Files\\Host\\planted.dll";
  // Not loaded yet: the host's copy is not a module of the process.
  CHECK(GetModuleHandleA(kBesideHost) == nullptr);
  HMODULE fromSystem = LoadLibraryExA(systemPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  REQUIRE(fromSystem != nullptr);
  struct Case {
    const char* how;
    HMODULE module;
    bool besideHost;
  };
  for (Case c : {Case{"LoadLibraryA bare", LoadLibraryA("planted.dll"), true},
                 Case{"LoadLibraryA by the host's path", LoadLibraryA(kBesideHost), true},
                 Case{"LoadLibraryExA system only", LoadLibraryExA("PLANTED", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), false},
                 Case{"LoadLibraryA by the system path", LoadLibraryA(systemPath.c_str()), false}}) {
    CAPTURE(c.how);
    REQUIRE(c.module != nullptr);
    CHECK((c.module != fromSystem) == c.besideHost);
    char path[MAX_PATH];
    REQUIRE(GetModuleFileNameA(c.module, path, MAX_PATH) != 0);
    CHECK(std::string(path) == (c.besideHost ? std::string(kBesideHost) : systemPath));
  }
  CHECK(GetModuleHandleA(kBesideHost) == LoadLibraryA("planted.dll"));
  CHECK(LoadLibraryExA("missing.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) == nullptr);
  CHECK(GetLastError() == ERROR_MOD_NOT_FOUND);

  HMODULE holder = nullptr;
  CHECK(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&Answer), &holder));
  CHECK(holder == GetModuleHandleA(nullptr));
}
