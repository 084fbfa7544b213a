// Windows, classes, message queues and device notifications of the simulated platform, as
// the client library and its hosts rely on them.
#include <doctest/doctest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/machine.h"
#include "winsim/machine.h"

namespace {

const char kClass[] = "SimTestWindow";
const GUID kOtherCategory = {0x53172480, 0x4791, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// What the window procedure saw, in order, on which thread.
struct Seen {
  UINT message;
  WPARAM wParam;
  DWORD thread;
  std::string broadcastName;
  DWORD broadcastSize;
  GUID broadcastClass;
};
std::vector<Seen> g_seen;
LRESULT g_answer = 0;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Seen seen{message, wParam, GetCurrentThreadId(), {}, 0, GUID_NULL};
  if (message == WM_DEVICECHANGE) {
    auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam);
    seen.broadcastName = broadcast->dbcc_name;
    seen.broadcastSize = broadcast->dbcc_size;
    seen.broadcastClass = broadcast->dbcc_classguid;
    CHECK(broadcast->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
  }
  g_seen.push_back(seen);
  if (message == WM_USER) return g_answer;
  return DefWindowProcA(window, message, wParam, lParam);
}

ATOM RegisterTestClass(HINSTANCE module = GetModuleHandleA(nullptr)) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = RecordingProc;
  windowClass.hInstance = module;
  windowClass.lpszClassName = kClass;
  return RegisterClassExA(&windowClass);
}

HWND CreateTestWindow() {
  return CreateWindowExA(0, kClass, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                         HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HDEVNOTIFY RegisterFor(HWND window, const GUID& category, DWORD flags = DEVICE_NOTIFY_WINDOW_HANDLE) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = category;
  return RegisterDeviceNotificationA(window, &filter, flags);
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

winsim::DeviceDesc DeviceWith(std::vector<GUID> categories) {
  winsim::DeviceDesc device{"USB\\VID_1A2B&PID_0A3C&MI_01\\7&1C2D3E4F&0&0001", {}};
  for (size_t i = 0; i < categories.size(); ++i) {
    winsim::InterfaceDesc desc;
    desc.category = categories[i];
    desc.reference = "port" + std::to_string(i);
    device.interfaces.push_back(desc);
  }
  return device;
}

std::vector<UINT> SeenMessages() {
  std::vector<UINT> messages;
  for (const Seen& seen : g_seen) messages.push_back(seen.message);
  return messages;
}

}  // namespace

TEST_CASE("window classes are kept per module and name, and go only when no window uses them") {
  testing::Machine machine;
  HINSTANCE exe = GetModuleHandleA(nullptr);
  HINSTANCE other = reinterpret_cast<HINSTANCE>(0x7000000);
  REQUIRE(RegisterTestClass() != 0);
  CHECK(RegisterTestClass() == 0);
  CHECK(GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
  CHECK(RegisterTestClass(other) != 0);  // the same name in another module is another class

  HWND window = CreateTestWindow();
  REQUIRE(window != nullptr);
  struct Case {
    const char* name;
    HINSTANCE module;
    BOOL result;
    DWORD error;
  };
  for (Case c : {Case{kClass, exe, FALSE, ERROR_CLASS_HAS_WINDOWS}, Case{"simtestwindow", other, TRUE, 0},
                 Case{kClass, other, FALSE, ERROR_CLASS_DOES_NOT_EXIST}, Case{"Missing", exe, FALSE,
                                                                              ERROR_CLASS_DOES_NOT_EXIST}}) {
    CAPTURE(c.name);
    SetLastError(0);
    CHECK(UnregisterClassA(c.name, c.module) == c.result);
    CHECK(GetLastError() == c.error);
  }
  CHECK(DestroyWindow(window));
  WNDCLASSEXA info{};
  CHECK(GetClassInfoExA(exe, kClass, &info));
  CHECK(reinterpret_cast<void*>(info.lpfnWndProc) == reinterpret_cast<void*>(RecordingProc));
  CHECK(UnregisterClassA(kClass, exe));
  CHECK_FALSE(GetClassInfoExA(exe, kClass, &info));
  CHECK(GetLastError() == ERROR_CLASS_DOES_NOT_EXIST);
}

TEST_CASE("a window gets its creation and destruction messages and is destroyed only by its owning thread") {
  testing::Machine machine;
  g_seen.clear();
  RegisterTestClass();
  HWND window = CreateTestWindow();
  REQUIRE(window != nullptr);
  CHECK(SeenMessages() == std::vector<UINT>{WM_NCCREATE, WM_CREATE});
  CHECK(FindWindowExA(HWND_MESSAGE, nullptr, kClass, nullptr) == window);
  CHECK(FindWindowExA(nullptr, nullptr, kClass, nullptr) == nullptr);  // not a top-level window
  CHECK(SetWindowLongPtrA(window, GWLP_USERDATA, 1234) == 0);
  CHECK(GetWindowLongPtrA(window, GWLP_USERDATA) == 1234);

  BOOL fromOtherThread = TRUE;
  DWORD otherError = 0;
  std::thread([&] {
    fromOtherThread = DestroyWindow(window);
    otherError = GetLastError();
  }).join();
  CHECK_FALSE(fromOtherThread);
  CHECK(otherError == ERROR_ACCESS_DENIED);
  CHECK(IsWindow(window));

  g_seen.clear();
  CHECK(DestroyWindow(window));
  CHECK(SeenMessages() == std::vector<UINT>{WM_DESTROY, WM_NCDESTROY});
  CHECK_FALSE(IsWindow(window));
  CHECK_FALSE(DestroyWindow(window));
  CHECK(GetLastError() == ERROR_INVALID_WINDOW_HANDLE);
  CHECK(UnregisterClassA(kClass, GetModuleHandleA(nullptr)));
}

TEST_CASE("a message sent from another thread runs on the owning thread, only while it retrieves messages") {
  testing::Machine machine;
  g_seen.clear();
  RegisterTestClass();
  HWND window = CreateTestWindow();
  g_seen.clear();
  g_answer = 77;
  std::atomic<bool> answered{false};
  auto sender = std::async(std::launch::async, [&] {
    LRESULT result = SendMessageA(window, WM_USER, 5, 0);
    answered = true;
    return result;
  });
  // The sender blocks until the owner retrieves messages; MsgWaitForMultipleObjects sees the input.
  CHECK(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_SENDMESSAGE) == WAIT_OBJECT_0);
  CHECK(g_seen.empty());
  CHECK_FALSE(answered);
  MSG message;
  CHECK_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));  // sent messages are not returned
  CHECK(sender.get() == 77);
  REQUIRE(g_seen.size() == 1);
  CHECK(g_seen[0].wParam == 5);
  CHECK(g_seen[0].thread == GetCurrentThreadId());
  // Input already looked at does not end a later wait.
  CHECK(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT) == WAIT_TIMEOUT);
  DestroyWindow(window);
}

TEST_CASE("posted messages and WM_QUIT come back through GetMessageA in order") {
  testing::Machine machine;
  g_seen.clear();
  RegisterTestClass();
  HWND window = CreateTestWindow();
  g_seen.clear();
  CHECK(PostMessageA(window, WM_USER, 1, 0));
  PostQuitMessage(3);
  CHECK(PostMessageA(window, WM_USER, 2, 0));
  MSG message;
  CHECK(PeekMessageA(&message, window, 0, 0, PM_NOREMOVE));
  CHECK(message.wParam == 1);
  std::vector<WPARAM> dispatched;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    DispatchMessageA(&message);
    dispatched.push_back(g_seen.back().wParam);
  }
  CHECK(dispatched == std::vector<WPARAM>{1, 2});
  CHECK(message.message == WM_QUIT);
  CHECK(message.wParam == 3);
  CHECK_FALSE(PostMessageA(reinterpret_cast<HWND>(0x4711), WM_USER, 0, 0));
  CHECK(GetLastError() == ERROR_INVALID_WINDOW_HANDLE);
  DestroyWindow(window);
}

TEST_CASE("interface arrivals and removals reach the windows registered for their class") {
  testing::Machine machine;
  g_seen.clear();
  RegisterTestClass();
  HWND audio = CreateTestWindow();
  HWND any = CreateTestWindow();
  HDEVNOTIFY audioOnly = RegisterFor(audio, KSCATEGORY_AUDIO);
  HDEVNOTIFY allClasses = RegisterFor(any, GUID_NULL, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
  REQUIRE(audioOnly != nullptr);
  REQUIRE(allClasses != nullptr);
  CHECK(winsim::LiveHandleCount() == 2);
  g_seen.clear();

  winsim::DeviceId device = winsim::PlugDevice(DeviceWith({KSCATEGORY_AUDIO, kOtherCategory}));
  CHECK(g_seen.empty());  // delivered only when the owner retrieves messages
  Pump();
  REQUIRE(g_seen.size() == 3);  // audio window: 1, all-classes window: 2
  std::string audioPath = winsim::InterfacePath(device, 0);
  size_t audioEvents = 0;
  for (const Seen& seen : g_seen) {
    CHECK(seen.message == WM_DEVICECHANGE);
    CHECK(seen.wParam == DBT_DEVICEARRIVAL);
    CHECK(seen.thread == GetCurrentThreadId());
    CHECK(seen.broadcastSize == offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + seen.broadcastName.size() + 1);
    if (seen.broadcastName == audioPath) {
      ++audioEvents;
      CHECK(seen.broadcastClass == KSCATEGORY_AUDIO);
    }
  }
  CHECK(audioEvents == 2);

  CHECK(UnregisterDeviceNotification(allClasses));
  CHECK_FALSE(UnregisterDeviceNotification(allClasses));
  CHECK(GetLastError() == ERROR_INVALID_HANDLE);
  g_seen.clear();
  winsim::UnplugDevice(device);
  Pump();
  REQUIRE(g_seen.size() == 1);
  CHECK(g_seen[0].wParam == DBT_DEVICEREMOVECOMPLETE);
  CHECK(g_seen[0].broadcastName == audioPath);

  CHECK(RegisterFor(reinterpret_cast<HWND>(0x4711), KSCATEGORY_AUDIO) == nullptr);
  CHECK(GetLastError() == ERROR_INVALID_WINDOW_HANDLE);
  CHECK(UnregisterDeviceNotification(audioOnly));
  DestroyWindow(audio);
  DestroyWindow(any);
}

TEST_CASE("the windows of a thread go when the thread ends, and a waiting sender is released") {
  testing::Machine machine;
  RegisterTestClass();
  std::promise<HWND> created;
  std::thread owner([&] {
    created.set_value(CreateTestWindow());
    // Ends with the sent message unanswered.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_SENDMESSAGE);
  });
  HWND window = created.get_future().get();
  REQUIRE(window != nullptr);
  CHECK(SendMessageA(window, WM_USER, 0, 0) == 0);
  owner.join();
  CHECK_FALSE(IsWindow(window));
  CHECK(UnregisterClassA(kClass, GetModuleHandleA(nullptr)));
}
