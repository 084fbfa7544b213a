// Device notifications: windows registered for a device interface class receive
// WM_DEVICECHANGE when an interface of that class arrives or leaves.
//
// Windows broadcasts these from a system thread with a bounded send, so whoever plugs or
// unplugs a device never waits for the windows. Here PlugDevice and UnplugDevice queue a sent
// message for each registered window and return; each window's owning thread processes it
// inside its own message retrieval.
#include <algorithm>
#include <cstddef>

#include "user32/window_messages.h"
#include "machine/devices.h"
#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "runtime/reset.h"
#include "winsim/sdk.h"

namespace winsim::detail {
namespace {

struct Registration : KernelObject {
  bool ClosableByCloseHandle() const override { return false; }
  HWND window = nullptr;
  GUID category = GUID_NULL;
  bool allClasses = false;
};

// In the order of registration; the handle table owns them too, so that leaks show.
AreaState<std::vector<std::shared_ptr<Registration>>> Registrations;

bool ValidFilter(const void* filter) {
  const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
  return header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
         header->dbch_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_A);
}

// The broadcast that names the interface; dbcc_size covers the name and its terminating zero.
std::vector<BYTE> InterfaceBroadcast(const InterfaceRecord& record) {
  size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + record.path.size() + 1;
  std::vector<BYTE> bytes(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)));
  auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
  broadcast->dbcc_size = static_cast<DWORD>(size);
  broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  broadcast->dbcc_reserved = 0;
  broadcast->dbcc_classguid = record.category;
  std::memcpy(broadcast->dbcc_name, record.path.c_str(), record.path.size() + 1);
  return bytes;
}

std::vector<HWND> WindowsRegisteredFor(const GUID& category) {
  std::lock_guard guard(Lock());
  std::vector<HWND> windows;
  for (const auto& registration : Registrations())
    if (registration->allClasses || IsEqualGUID(registration->category, category))
      windows.push_back(registration->window);
  return windows;
}

}  // namespace

void AnnounceInterfaceToWindows(const InterfaceRecord& record, bool arrived) {
  WPARAM event = arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  for (HWND window : WindowsRegisteredFor(record.category))
    SendWithoutWaiting(window, WM_DEVICECHANGE, event, InterfaceBroadcast(record));
}
}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags) {
  DWORD error = 0;
  if (ConsumeFault("RegisterDeviceNotificationA", &error)) {
    SetLastError(error);
    return nullptr;
  }
  // Only window recipients exist here; services are not simulated.
  if (Flags & DEVICE_NOTIFY_SERVICE_HANDLE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  HWND window = static_cast<HWND>(hRecipient);
  if (WindowOwner(window) == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (!ValidFilter(NotificationFilter)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  auto registration = std::make_shared<Registration>();
  registration->window = window;
  registration->category = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(NotificationFilter)->dbcc_classguid;
  registration->allClasses = (Flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
  HANDLE handle = InsertHandle(registration);
  {
    std::lock_guard guard(Lock());
    Registrations().push_back(registration);
  }
  return handle;
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle) {
  if (FailsByFault("UnregisterDeviceNotification")) return FALSE;
  auto registration = LookupAs<Registration>(Handle);
  if (!registration) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  RemoveHandle(Handle);
  std::lock_guard guard(Lock());
  auto& registrations = Registrations();
  registrations.erase(std::remove(registrations.begin(), registrations.end(), registration), registrations.end());
  return TRUE;
}

}  // extern "C"
