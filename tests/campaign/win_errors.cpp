#include "campaign/win_errors.h"

#include <map>

namespace campaign {
namespace {

// Win32 error values the simulated headers do not name.
const DWORD kErrorBusy = 170;               // a kernel-streaming pin with all instances in use
const DWORD kErrorServiceNotActive = 1062;  // the Plug and Play service is not running
const DWORD kErrorNoSystemResources = 1450;
const DWORD kErrorNotEnoughQuota = 1816;    // the thread's message queue is full
const DWORD kErrorRegistryIoFailed = 1016;  // the hive file cannot be written
const DWORD kCrOutOfMemory = 0x02;          // a CONFIGRET, not a Win32 error

const std::map<std::string, InjectedError>& Table() {
  static const std::map<std::string, InjectedError> table = {
      {"CreateFileA", {ERROR_ACCESS_DENIED, "the interface is opened exclusively by someone else"}},
      {"CreateEventA", {kErrorNoSystemResources, "no kernel memory for the event"}},
      {"CreateThread", {ERROR_NOT_ENOUGH_MEMORY, "no memory for the thread's stack"}},
      {"WaitForSingleObject", {ERROR_INVALID_HANDLE, "WAIT_FAILED"}},
      {"WaitForMultipleObjects", {ERROR_INVALID_HANDLE, "WAIT_FAILED"}},
      {"GetExitCodeThread", {ERROR_ACCESS_DENIED, "a handle without query access"}},
      {"DeviceIoControl", {ERROR_GEN_FAILURE, "the driver fails the request (STATUS_UNSUCCESSFUL)"}},
      {"GetOverlappedResult", {ERROR_GEN_FAILURE, "the request ended with STATUS_UNSUCCESSFUL"}},
      {"CancelIoEx", {ERROR_NOT_FOUND, "no request matched: it completed meanwhile"}},
      {"KsCreatePin", {kErrorBusy, "every instance of the pin factory is in use"}},
      {"LoadLibraryA", {ERROR_MOD_NOT_FOUND, "the library is missing"}},
      {"LoadLibraryExA", {ERROR_MOD_NOT_FOUND, "ksuser.dll missing from the system directory"}},
      {"GetProcAddress", {ERROR_PROC_NOT_FOUND, "the export is missing"}},
      {"SetupDiGetClassDevsA", {ERROR_NOT_ENOUGH_MEMORY, "no memory for the set"}},
      {"SetupDiEnumDeviceInterfaces", {ERROR_NO_MORE_ITEMS, "the end of the set"}},
      {"SetupDiGetDeviceInterfaceDetailA", {ERROR_NO_SUCH_DEVICE_INTERFACE, "the interface left meanwhile"}},
      {"SetupDiCreateDeviceInfoList", {ERROR_NOT_ENOUGH_MEMORY, "no memory for the set"}},
      {"SetupDiOpenDeviceInterfaceA", {ERROR_NO_SUCH_DEVICE_INTERFACE, "the interface left meanwhile"}},
      {"SetupDiOpenDeviceInterfaceRegKey", {ERROR_FILE_NOT_FOUND, "the interface has no key"}},
      // Not "absent": the value is there, and a caller that took it for absent would be told
      // something Windows never says about a present value.
      {"RegQueryValueExA", {kErrorNoSystemResources, "no kernel memory to read the value"}},
      {"RegOpenKeyExA", {ERROR_ACCESS_DENIED, "the caller may not write the key: not an administrator"}},
      {"RegSetValueExA", {kErrorNoSystemResources, "the registry quota is used up"}},
      {"RegDeleteValueA", {kErrorRegistryIoFailed, "the hive file cannot be written"}},
      // Device installation services, as devsetup and classhook call them.
      {"GetFullPathNameA", {ERROR_FILENAME_EXCED_RANGE, "the full path would be too long"}},
      {"SetupCopyOEMInfA", {ERROR_ACCESS_DENIED, "the caller is not an administrator"}},
      {"SetupGetInfFileListA", {ERROR_NOT_ENOUGH_MEMORY, "no memory for the listing"}},
      {"GetPrivateProfileStringA", {ERROR_SHARING_VIOLATION, "the INF is open for writing elsewhere: the default"}},
      {"SetupOpenInfFileA", {ERROR_SHARING_VIOLATION, "the INF is open for writing elsewhere"}},
      {"SetupGetStringFieldA", {ERROR_INVALID_PARAMETER, "the line has no field 2: a model without a hardware id"}},
      {"UpdateDriverForPlugAndPlayDevicesA", {ERROR_ACCESS_DENIED, "the caller is not an administrator"}},
      {"SetupDiEnumDeviceInfo", {ERROR_NO_MORE_ITEMS, "the end of the set"}},
      {"SetupDiGetDeviceRegistryPropertyA", {ERROR_INVALID_DATA, "the device has no such property"}},
      {"SetupDiSetDeviceRegistryPropertyA", {ERROR_ACCESS_DENIED, "the caller is not an administrator"}},
      {"CM_Get_DevNode_Status", {kCrOutOfMemory, "CR_OUT_OF_MEMORY: the configuration manager cannot answer"}},
      {"CMP_WaitNoPendingInstallEvents", {kErrorServiceNotActive, "WAIT_FAILED: the Plug and Play service is not running"}},
      {"SetupDiEnumDriverInfoA", {ERROR_NO_MORE_ITEMS, "the end of the driver list"}},
      {"SetupDiGetDriverInfoDetailA", {ERROR_NOT_ENOUGH_MEMORY, "no memory to read the driver's INF"}},
      {"SetupDiGetDriverInstallParamsA", {ERROR_NOT_ENOUGH_MEMORY, "no memory for the parameters"}},
      {"SetupDiSetDriverInstallParamsA", {ERROR_NOT_ENOUGH_MEMORY, "no memory for the parameters"}},
      {"RegisterClassExA", {ERROR_NOT_ENOUGH_MEMORY, "no desktop heap"}},
      {"CreateWindowExA", {ERROR_NOT_ENOUGH_MEMORY, "no desktop heap"}},
      {"RegisterDeviceNotificationA", {kErrorServiceNotActive, "the Plug and Play service is not running"}},
      {"SetWindowLongPtrA", {ERROR_ACCESS_DENIED, "the window belongs to another process"}},
      {"PostMessageA", {ERROR_NOT_ENOUGH_MEMORY, "the message queue is full"}},
      {"SendMessageA", {ERROR_ACCESS_DENIED, "blocked by message filtering"}},
      {"PostThreadMessageA", {kErrorNotEnoughQuota, "the thread's message queue is full"}},
      {"GetModuleFileNameA", {ERROR_NOT_ENOUGH_MEMORY, "no memory for the name"}},
  };
  return table;
}

const std::map<std::string, const char*>& NotInjectable() {
  static const std::map<std::string, const char*> calls = {
      {"CloseHandle", "fails only for a handle that is not open"},
      {"SetEvent", "fails only for a handle that is not an event"},
      {"ResetEvent", "fails only for a handle that is not an event"},
      {"CancelIo", "fails only for a handle that is not open; it cancels nothing then"},
      {"RegCloseKey", "fails only for a key that is not open"},
      {"SetupDiDestroyDeviceInfoList", "fails only for a set that does not exist"},
      {"UnregisterDeviceNotification", "fails only for a registration that does not exist"},
      {"DestroyWindow", "fails only for another thread's or a destroyed window"},
      {"UnregisterClassA", "its result is not looked at by design"},
      {"Sleep", "cannot fail"},
      {"GetLastError", "cannot fail"},
      {"SetLastError", "cannot fail"},
      {"GetCurrentThreadId", "cannot fail"},
      {"GetModuleHandleA", "the process's own executable is always found"},
      {"GetModuleHandleExA", "the module holding an address of the caller's own code is always found"},
      {"GetSystemDirectoryA", "fails only for a buffer too small, reported by the length it needs"},
      {"DefWindowProcA", "cannot fail"},
      {"DispatchMessageA", "returns the window procedure's result"},
      {"TranslateMessage", "cannot fail"},
      {"PeekMessageA", "reports an empty queue, not a failure"},
      {"GetWindowLongPtrA", "fails only for a window that does not exist"},
      {"OutputDebugStringA", "cannot fail"},
      {"PostQuitMessage", "cannot fail"},
      {"IsDBCSLeadByte", "cannot fail: it answers whether the byte leads a character"},
      {"GetMessageA", "fails only for a window that does not exist"},
      {"MsgWaitForMultipleObjects", "fails only for a handle that is not open"},
      {"FreeLibrary", "fails only for a module that is not loaded"},
      {"SetupCloseInfFile", "returns nothing"},
      {"SetupGetLineCountA", "fails only for a section that is absent, which it reports as -1 lines"},
      {"SetupGetLineByIndexA", "fails only for an index beyond the section's lines"},
  };
  return calls;
}

}  // namespace

std::optional<InjectedError> ErrorFor(const std::string& call) {
  auto found = Table().find(call);
  if (found == Table().end()) return std::nullopt;
  return found->second;
}

const char* NotInjectableReason(const std::string& call) {
  auto found = NotInjectable().find(call);
  return found == NotInjectable().end() ? nullptr : found->second;
}

}  // namespace campaign
