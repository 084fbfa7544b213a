#include "ks/ksuser.h"

#include <atomic>

namespace {

// Process-wide, filled on first use and taken by no lock: two threads racing here load the
// same library and find the same address. Relaxed atomics are plain loads and stores that
// keep the race well defined.
std::atomic<HMODULE> g_hKsUser{NULL};
std::atomic<PFN_KS_CREATE_PIN> g_pfnKsCreatePin{NULL};

}  // namespace

PFN_KS_CREATE_PIN ResolveKsCreatePin() {
  PFN_KS_CREATE_PIN pfn = g_pfnKsCreatePin.load(std::memory_order_relaxed);
  if (pfn != NULL) return pfn;
  HMODULE hKsUser = g_hKsUser.load(std::memory_order_relaxed);
  if (hKsUser == NULL) {
    hKsUser = LoadLibraryA("ksuser.dll");
    g_hKsUser.store(hKsUser, std::memory_order_relaxed);
  }
  if (hKsUser == NULL) return NULL;
  pfn = reinterpret_cast<PFN_KS_CREATE_PIN>(reinterpret_cast<void*>(GetProcAddress(hKsUser, "KsCreatePin")));
  g_pfnKsCreatePin.store(pfn, std::memory_order_relaxed);
  return pfn;
}
