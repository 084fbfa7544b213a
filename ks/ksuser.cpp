#include "ks/ksuser.h"

#include <atomic>
#include <cstring>

namespace {

// Process-wide, filled on first use and taken by no lock: two threads racing here load the
// same library and find the same address. Relaxed atomics are plain loads and stores that
// keep the race well defined.
std::atomic<HMODULE> g_hKsUser{NULL};
std::atomic<PFN_KS_CREATE_PIN> g_pfnKsCreatePin{NULL};

// ksuser.dll from the system directory, by its full path: by bare name the host's own folder
// comes first and a file of that name planted there would be loaded and run. The path, rather
// than LOAD_LIBRARY_SEARCH_SYSTEM32, works on every Windows version, also without the update
// that brought the flag to Windows 7; the altered search path looks for ksuser.dll's own
// imports beside it too.
HMODULE LoadKsUserFromSystemDirectory() {
  static const char kFileName[] = "\\ksuser.dll";
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + sizeof kFileName > MAX_PATH) return NULL;
  std::memcpy(path + length, kFileName, sizeof kFileName);
  return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

PFN_KS_CREATE_PIN ResolveKsCreatePin() {
  PFN_KS_CREATE_PIN pfn = g_pfnKsCreatePin.load(std::memory_order_relaxed);
  if (pfn != NULL) return pfn;
  HMODULE hKsUser = g_hKsUser.load(std::memory_order_relaxed);
  if (hKsUser == NULL) {
    hKsUser = LoadKsUserFromSystemDirectory();
    g_hKsUser.store(hKsUser, std::memory_order_relaxed);
  }
  if (hKsUser == NULL) return NULL;
  pfn = reinterpret_cast<PFN_KS_CREATE_PIN>(reinterpret_cast<void*>(GetProcAddress(hKsUser, "KsCreatePin")));
  g_pfnKsCreatePin.store(pfn, std::memory_order_relaxed);
  return pfn;
}
