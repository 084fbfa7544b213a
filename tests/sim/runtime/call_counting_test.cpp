// Every platform call the deliverables make is counted, and an injected fault makes it fail
// the way Windows reports that call's failure. The system's own work (a request completing,
// GetOverlappedResult waiting) is not counted as calls of the caller.
#include <doctest/doctest.h>

#include <functional>

#include "support/machine.h"
#include "winsim/machine.h"

namespace {

const DWORD kInjected = ERROR_NOT_ENOUGH_MEMORY;  // an error none of these calls reports by itself

KSPROPERTY PinCountProperty() {
  KSPROPERTY property{};
  property.Set = KSPROPSETID_Pin;
  property.Id = KSPROPERTY_PIN_CTYPES;
  property.Flags = KSPROPERTY_TYPE_GET;
  return property;
}

// The objects a call needs so that, without the fault, it would succeed.
struct Objects {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE file = nullptr;
  OVERLAPPED overlapped{};
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ~Objects() {
    CloseHandle(event);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    SetupDiDestroyDeviceInfoList(set);
  }
};

struct Case {
  const char* api;
  // Makes the call; true when it reported failure the documented way with the injected error.
  std::function<bool(Objects&)> failsAsDocumented;
};

bool LastErrorInjected() { return GetLastError() == kInjected; }

const Case kCases[] = {
    {"SetEvent", [](Objects& o) { return !SetEvent(o.event) && LastErrorInjected(); }},
    {"ResetEvent", [](Objects& o) { return !ResetEvent(o.event) && LastErrorInjected(); }},
    {"CloseHandle", [](Objects& o) { return !CloseHandle(o.event) && LastErrorInjected(); }},
    {"GetExitCodeThread",
     [](Objects& o) {
       DWORD code = 0;
       return !GetExitCodeThread(o.event, &code) && LastErrorInjected();
     }},
    {"DeviceIoControl",
     [](Objects& o) {
       KSPROPERTY property = PinCountProperty();
       ULONG count = 0;
       DWORD returned = 0;
       return !DeviceIoControl(o.file, IOCTL_KS_PROPERTY, &property, sizeof property, &count, sizeof count, &returned,
                               &o.overlapped) &&
              LastErrorInjected();
     }},
    {"GetOverlappedResult",
     [](Objects& o) {
       DWORD bytes = 0;
       return !GetOverlappedResult(o.file, &o.overlapped, &bytes, FALSE) && LastErrorInjected();
     }},
    {"CancelIo", [](Objects& o) { return !CancelIo(o.file) && LastErrorInjected(); }},
    {"CancelIoEx", [](Objects& o) { return !CancelIoEx(o.file, nullptr) && LastErrorInjected(); }},
    {"IsDBCSLeadByte", [](Objects&) { return !IsDBCSLeadByte('a') && LastErrorInjected(); }},
    {"SetupDiEnumDeviceInterfaces",
     [](Objects& o) {
       SP_DEVICE_INTERFACE_DATA data{};
       data.cbSize = sizeof data;
       return !SetupDiEnumDeviceInterfaces(o.set, nullptr, &KSCATEGORY_AUDIO, 0, &data) && LastErrorInjected();
     }},
    {"SetupDiDestroyDeviceInfoList",
     [](Objects& o) { return !SetupDiDestroyDeviceInfoList(o.set) && LastErrorInjected(); }},
    {"RegCloseKey", [](Objects&) { return RegCloseKey(HKEY_LOCAL_MACHINE) == static_cast<LONG>(kInjected); }},
    {"GetProcAddress",
     [](Objects&) {
       return GetProcAddress(LoadLibraryA("ksuser.dll"), "KsCreatePin") == nullptr && LastErrorInjected();
     }},
    {"GetModuleHandleA", [](Objects&) { return GetModuleHandleA(nullptr) == nullptr && LastErrorInjected(); }},
    {"UnregisterDeviceNotification",
     [](Objects& o) { return !UnregisterDeviceNotification(o.event) && LastErrorInjected(); }},
    {"PostThreadMessageA",
     [](Objects&) { return !PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0) && LastErrorInjected(); }},
    {"PeekMessageA",
     [](Objects&) {
       MSG message;
       return !PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) && LastErrorInjected();
     }},
    {"GetMessageA",
     [](Objects&) {
       MSG message;
       return GetMessageA(&message, nullptr, 0, 0) == -1 && LastErrorInjected();
     }},
    {"MsgWaitForMultipleObjects",
     [](Objects& o) { return MsgWaitForMultipleObjects(1, &o.event, FALSE, 0, QS_ALLINPUT) == WAIT_FAILED && LastErrorInjected(); }},
    {"DestroyWindow", [](Objects&) { return !DestroyWindow(nullptr) && LastErrorInjected(); }},
    {"UnregisterClassA", [](Objects&) { return !UnregisterClassA("none", nullptr) && LastErrorInjected(); }},
    {"SetWindowLongPtrA",
     [](Objects&) { return SetWindowLongPtrA(nullptr, GWLP_USERDATA, 1) == 0 && LastErrorInjected(); }},
    {"GetWindowLongPtrA", [](Objects&) { return GetWindowLongPtrA(nullptr, GWLP_USERDATA) == 0 && LastErrorInjected(); }},
};

std::string PlugAudioInterface() {
  winsim::DeviceDesc device;
  device.instanceId = "USB\\VID_1A2B&PID_0C21\\1";
  winsim::InterfaceDesc interface;
  interface.filter = winsim::OrdinaryAudioFilter(false);
  device.interfaces.push_back(interface);
  return winsim::InterfacePath(winsim::PlugDevice(device));
}

}  // namespace

TEST_CASE("each platform call is counted once and fails as documented when a fault is injected") {
  testing::Machine machine;
  std::string path = PlugAudioInterface();
  for (const Case& c : kCases) {
    CAPTURE(c.api);
    Objects objects;
    objects.file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
    objects.overlapped.hEvent = objects.event;
    winsim::ResetCallCounts();
    winsim::FailCall(c.api, kInjected);
    SetLastError(0);
    CHECK(c.failsAsDocumented(objects));
    CHECK(winsim::CallCounts()[c.api] == 1);
    winsim::ClearFaults();
  }
}

TEST_CASE("a request's completion and GetOverlappedResult's wait are not counted as the caller's calls") {
  testing::Machine machine;
  std::string path = PlugAudioInterface();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  winsim::FailCall("SetEvent", kInjected, -1);
  winsim::FailCall("ResetEvent", kInjected, -1);
  winsim::FailCall("WaitForSingleObject", kInjected, -1);
  winsim::ResetCallCounts();

  KSPROPERTY property = PinCountProperty();
  ULONG count = 0;
  DWORD returned = 0;
  BOOL done = DeviceIoControl(file, IOCTL_KS_PROPERTY, &property, sizeof property, &count, sizeof count, &returned,
                              &overlapped);
  CHECK((done || GetLastError() == ERROR_IO_PENDING));
  CHECK(GetOverlappedResult(file, &overlapped, &returned, TRUE));
  CHECK(returned == sizeof count);
  CHECK(winsim::CallCounts() == std::map<std::string, uint64_t>{{"DeviceIoControl", 1}, {"GetOverlappedResult", 1}});

  winsim::ClearFaults();
  CloseHandle(overlapped.hEvent);
  CloseHandle(file);
}
