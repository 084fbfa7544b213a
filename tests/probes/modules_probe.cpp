// Modules found by name, procedures by name, the executable's own module, and the system code
// page rules the product's string handling follows.
#include <cstring>

#include "probe.h"

namespace {
void AnAddressOfTheExecutable() {}
}  // namespace

int main() {
  SetLastError(probe::kUnset);
  probe::Result("LoadLibraryA of a missing library", reinterpret_cast<UINT_PTR>(LoadLibraryA("probe_no_such_library.dll")));
  HMODULE ksuser = LoadLibraryA("ksuser.dll");
  probe::Flag("LoadLibraryA ksuser.dll", ksuser != NULL);
  probe::Flag("  KsCreatePin", GetProcAddress(ksuser, "KsCreatePin") != NULL);
  SetLastError(probe::kUnset);
  probe::Result("  a missing procedure", reinterpret_cast<UINT_PTR>(GetProcAddress(ksuser, "ProbeNoSuchProc")));
  probe::Flag("  loading it again gives the same module", LoadLibraryA("KSUSER.DLL") == ksuser);
  probe::Flag("GetModuleHandleA(NULL)", GetModuleHandleA(NULL) != NULL);

  // The system directory, by full path, and the module that holds an address.
  char system[MAX_PATH] = {};
  UINT systemLength = GetSystemDirectoryA(system, sizeof system);
  probe::Flag("GetSystemDirectoryA", systemLength == std::strlen(system) && systemLength > 3);
  probe::Flag("  a buffer too small asks for the length with the terminator",
              GetSystemDirectoryA(system, 2) == systemLength + 1);
  GetSystemDirectoryA(system, sizeof system);
  std::strcat(system, "\\ksuser.dll");
  probe::Flag("LoadLibraryExA by the system directory's path",
              LoadLibraryExA(system, NULL, LOAD_WITH_ALTERED_SEARCH_PATH) == ksuser);
  probe::Flag("LoadLibraryExA searching the system directory only",
              LoadLibraryExA("ksuser.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32) == ksuser);
  HMODULE holder = NULL;
  probe::Flag("GetModuleHandleExA from an address of the executable",
              GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(&AnAddressOfTheExecutable), &holder) != FALSE);
  probe::Flag("  names the executable", holder == GetModuleHandleA(NULL));
  char small[4] = {'x', 'x', 'x', 'x'};
  SetLastError(probe::kUnset);
  DWORD length = GetModuleFileNameA(NULL, small, sizeof small);
  probe::Result("GetModuleFileNameA into 4 bytes", length);
  probe::Flag("  terminated in the last byte", small[3] == '\0');
  char path[MAX_PATH] = {};
  probe::Flag("GetModuleFileNameA whole", GetModuleFileNameA(NULL, path, sizeof path) == std::strlen(path));

  // The system code page of a Western machine has no lead bytes.
  probe::Flag("IsDBCSLeadByte 0x81", IsDBCSLeadByte(0x81) != FALSE);
  probe::Flag("IsDBCSLeadByte 'A'", IsDBCSLeadByte('A') != FALSE);
  const unsigned char upper[] = "\\\\?\\USB#VID_1A86&PID_0A3C", lower[] = "\\\\?\\usb#vid_1a86&pid_0a3c";
  probe::Flag("_mbsicmp ignores case", _mbsicmp(upper, lower) == 0);
  probe::Flag("_mbsicmp orders", _mbsicmp(reinterpret_cast<const unsigned char*>("a"),
                                          reinterpret_cast<const unsigned char*>("B")) < 0);
  return 0;
}
