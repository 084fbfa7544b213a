// The simulated ksuser.dll: a system module that LoadLibraryA finds, exporting KsCreatePin.
#include "ks_driver/ks_driver.h"
#include "winsim/control.h"
#include "kernel32/modules.h"
#include "runtime/fault_injection.h"

namespace {

DWORD WINAPI SimKsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect, ACCESS_MASK, PHANDLE ConnectionHandle) {
  DWORD error = 0;
  if (winsim::detail::ConsumeFault("KsCreatePin", &error)) return error;
  return winsim::detail::CreatePinFile(FilterHandle, Connect, ConnectionHandle);
}

struct KsUserRegistration {
  KsUserRegistration() {
    winsim::detail::RegisterSystemModule(
        "ksuser.dll", {{"KsCreatePin", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(SimKsCreatePin))}});
  }
} ksUserRegistration;

}  // namespace
