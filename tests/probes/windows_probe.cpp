// Window classes, message-only windows, window data, and sent versus posted messages.
#include "probe.h"

namespace {

const char kClass[] = "ProbeWindowClass";
bool g_created = false;
bool g_sentHandled = false;
UINT g_posted[2] = {0, 0};
int g_postedCount = 0;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) g_created = true;
  if (message == WM_USER) {
    g_sentHandled = true;
    return 7;
  }
  if (message == WM_USER + 1 && g_postedCount < 2) g_posted[g_postedCount++] = static_cast<UINT>(wParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI SendFromOtherThread(LPVOID parameter) {
  return static_cast<DWORD>(SendMessageA(static_cast<HWND>(parameter), WM_USER, 0, 0));
}

WNDCLASSEXA ProbeClass(WNDPROC procedure, HINSTANCE module) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = module;
  windowClass.lpszClassName = kClass;
  return windowClass;
}

LRESULT CALLBACK OtherModuleProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) return 9;
  return DefWindowProcA(window, message, wParam, lParam);
}

// DestroyWindow's result and last error on a thread that does not own the window.
DWORD WINAPI DestroyFromOtherThread(LPVOID parameter) {
  SetLastError(probe::kUnset);
  BOOL destroyed = DestroyWindow(static_cast<HWND>(parameter));
  return destroyed ? 0 : GetLastError();
}

// A class name registered by two modules of one process: two classes, each with its own
// procedure, each window finding its module's class, each unregistered on its own.
void ProbeOneNameTwoModules(HINSTANCE executable) {
  HINSTANCE other = LoadLibraryA("ksuser.dll");
  WNDCLASSEXA windowClass = ProbeClass(ProbeProc, executable);
  probe::Flag("one class name, executable's module", RegisterClassExA(&windowClass) != 0);
  windowClass = ProbeClass(OtherModuleProc, other);
  probe::Flag("one class name, another module", RegisterClassExA(&windowClass) != 0);
  HWND ours = CreateWindowExA(0, kClass, NULL, 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, executable, NULL);
  HWND theirs = CreateWindowExA(0, kClass, NULL, 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, other, NULL);
  probe::Value("  the executable's window answers", static_cast<unsigned long long>(SendMessageA(ours, WM_USER, 0, 0)));
  probe::Value("  the other module's window answers", static_cast<unsigned long long>(SendMessageA(theirs, WM_USER, 0, 0)));
  probe::Flag("  FindWindowExA by class name finds a message-only one", FindWindowExA(HWND_MESSAGE, NULL, kClass, NULL) != NULL);
  SetLastError(probe::kUnset);
  probe::Result("  UnregisterClassA of the other module, its window alive", UnregisterClassA(kClass, other));
  DestroyWindow(theirs);
  SetLastError(probe::kUnset);
  probe::Result("  UnregisterClassA of the other module, its window gone", UnregisterClassA(kClass, other));
  probe::Value("  the executable's window still answers", static_cast<unsigned long long>(SendMessageA(ours, WM_USER, 0, 0)));

  HANDLE destroyer = CreateThread(NULL, 0, DestroyFromOtherThread, ours, 0, NULL);
  WaitForSingleObject(destroyer, 5000);
  DWORD error = 0;
  GetExitCodeThread(destroyer, &error);
  CloseHandle(destroyer);
  probe::Value("DestroyWindow on another thread: error", error);
  probe::Flag("  the window lives on", IsWindow(ours) != FALSE);
  DestroyWindow(ours);
  probe::Flag("UnregisterClassA of the executable's", UnregisterClassA(kClass, executable) != FALSE);
}

}  // namespace

int main() {
  HINSTANCE module = GetModuleHandleA(NULL);
  WNDCLASSEXA windowClass = ProbeClass(ProbeProc, module);
  probe::Flag("RegisterClassExA", RegisterClassExA(&windowClass) != 0);
  SetLastError(probe::kUnset);
  probe::Result("RegisterClassExA again", RegisterClassExA(&windowClass));
  WNDCLASSEXA found = {};
  found.cbSize = sizeof found;
  probe::Flag("GetClassInfoExA", GetClassInfoExA(module, kClass, &found) != FALSE);
  probe::Flag("  same window procedure", found.lpfnWndProc == ProbeProc);

  HWND window = CreateWindowExA(0, kClass, NULL, 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, module, NULL);
  probe::Flag("CreateWindowExA message-only", window != NULL);
  probe::Flag("  WM_CREATE before it returned", g_created);
  probe::Flag("FindWindowExA finds it among message-only windows",
              FindWindowExA(HWND_MESSAGE, NULL, kClass, NULL) == window);
  probe::Flag("FindWindowExA among top-level windows", FindWindowExA(NULL, NULL, kClass, NULL) == window);
  SetLastError(probe::kUnset);
  probe::Result("SetWindowLongPtrA GWLP_USERDATA first", static_cast<unsigned long long>(SetWindowLongPtrA(window, GWLP_USERDATA, 1234)));
  probe::Value("GetWindowLongPtrA GWLP_USERDATA", static_cast<unsigned long long>(GetWindowLongPtrA(window, GWLP_USERDATA)));
  probe::Value("SendMessageA on the owning thread", static_cast<unsigned long long>(SendMessageA(window, WM_USER, 0, 0)));

  // Posted messages wait in the queue, in order.
  g_sentHandled = false;
  PostMessageA(window, WM_USER + 1, 1, 0);
  PostMessageA(window, WM_USER + 1, 2, 0);
  probe::Value("posted, not yet retrieved", static_cast<unsigned long long>(g_postedCount));
  MSG msg;
  while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  probe::Value("posted, retrieved: count", static_cast<unsigned long long>(g_postedCount));
  probe::Value("  first", g_posted[0]);
  probe::Value("  second", g_posted[1]);

  // A message sent from another thread runs only while this thread retrieves messages.
  HANDLE sender = CreateThread(NULL, 0, SendFromOtherThread, window, 0, NULL);
  DWORD wake = MsgWaitForMultipleObjects(0, NULL, FALSE, 5000, QS_SENDMESSAGE);
  probe::Value("MsgWaitForMultipleObjects for a sent message", wake);
  probe::Flag("  handled before retrieving", g_sentHandled);
  PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
  probe::Flag("  handled by PeekMessageA(PM_NOREMOVE)", g_sentHandled);
  WaitForSingleObject(sender, 5000);
  DWORD answer = 0;
  GetExitCodeThread(sender, &answer);
  probe::Value("  the sender got", answer);
  CloseHandle(sender);

  SetLastError(probe::kUnset);
  probe::Result("UnregisterClassA with a window", UnregisterClassA(kClass, module));
  probe::Flag("DestroyWindow", DestroyWindow(window) != FALSE);
  probe::Flag("IsWindow after", IsWindow(window) != FALSE);
  SetLastError(probe::kUnset);
  probe::Result("UnregisterClassA", UnregisterClassA(kClass, module));
  SetLastError(probe::kUnset);
  probe::Result("UnregisterClassA again", UnregisterClassA(kClass, module));
  ProbeOneNameTwoModules(module);
  return 0;
}
