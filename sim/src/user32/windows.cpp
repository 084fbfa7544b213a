// Window classes and windows: classes per module and name, creation with its creation
// messages, destruction by the owning thread only, window data and window lookup.
#include <algorithm>
#include <map>
#include <strings.h>

#include "user32/window_messages.h"
#include "runtime/fault_injection.h"
#include "runtime/reset.h"
#include "winsim/sdk.h"

namespace winsim::detail {
namespace {

struct WindowClass {
  WNDCLASSEXA info{};
  std::string name;
  ATOM atom = 0;
  int windows = 0;  // windows of the class that exist now
};

struct Window {
  DWORD owner = 0;
  std::shared_ptr<WindowClass> windowClass;
  std::string name;
  WNDPROC procedure = nullptr;
  HINSTANCE instance = nullptr;
  HWND parent = nullptr;  // HWND_MESSAGE for message-only windows, null for top-level ones
  LONG_PTR userData = 0;
  bool destroying = false;
};

// Window handles are not kernel handles: they have a table of their own and are never reused.
struct WindowsState {
  std::vector<std::shared_ptr<WindowClass>> classes;
  std::map<uintptr_t, std::shared_ptr<Window>> windows;  // in creation order
  uintptr_t nextWindow = 0x00010010;
  ATOM nextAtom = 0xC000;
};

AreaState<WindowsState> State;

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::shared_ptr<WindowClass> FindClassLocked(HINSTANCE module, const char* name) {
  for (const auto& windowClass : State().classes)
    if (windowClass->info.hInstance == module && SameName(windowClass->name, name)) return windowClass;
  return nullptr;
}

// The class, or null with the last error set.
std::shared_ptr<WindowClass> ExistingClassLocked(HINSTANCE module, const char* name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto windowClass = FindClassLocked(module, name);
  if (!windowClass) SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return windowClass;
}

std::shared_ptr<Window> FindWindowLocked(HWND window) {
  auto found = State().windows.find(reinterpret_cast<uintptr_t>(window));
  return found == State().windows.end() ? nullptr : found->second;
}

void RemoveWindowLocked(HWND handle) {
  auto window = FindWindowLocked(handle);
  if (!window) return;
  --window->windowClass->windows;
  State().windows.erase(reinterpret_cast<uintptr_t>(handle));
  DropMessagesForWindowLocked(handle);
}

bool ValidParent(HWND parent) { return parent == nullptr || parent == HWND_MESSAGE || FindWindowLocked(parent); }

HWND InsertWindowLocked(const std::shared_ptr<WindowClass>& windowClass, LPCSTR name, HWND parent,
                        HINSTANCE instance) {
  auto window = std::make_shared<Window>();
  window->owner = GetCurrentThreadId();
  window->windowClass = windowClass;
  window->name = name ? name : "";
  window->procedure = windowClass->info.lpfnWndProc;
  window->instance = instance;
  window->parent = parent;
  uintptr_t handle = State().nextWindow;
  State().nextWindow += 0x10;
  State().windows.emplace(handle, window);
  ++windowClass->windows;
  EnsureQueueOfCurrentThreadLocked();
  return reinterpret_cast<HWND>(handle);
}

// Undoes a creation that the window procedure refused: WM_NCCREATE answered FALSE (the window
// just goes) or WM_CREATE answered -1 (the window is destroyed with its messages).
HWND AbandonCreation(HWND window, bool destroy) {
  if (destroy) {
    DestroyWindow(window);
  } else {
    std::lock_guard guard(Lock());
    RemoveWindowLocked(window);
  }
  StateChanged().notify_all();
  return nullptr;
}

LONG_PTR* WindowLongLocked(Window& window, int index) {
  switch (index) {
    case GWLP_USERDATA:
      return &window.userData;
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR*>(&window.procedure);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR*>(&window.instance);
    default:
      return nullptr;
  }
}

// The window's value at `index`, or null with the last error set.
LONG_PTR* LookupWindowLong(HWND handle, int index) {
  auto window = FindWindowLocked(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  LONG_PTR* value = WindowLongLocked(*window, index);
  if (value == nullptr) SetLastError(ERROR_INVALID_INDEX);
  return value;
}

bool MatchesSearch(const Window& window, HWND parent, LPCSTR className, LPCSTR windowName) {
  if (window.parent != parent) return false;
  if (className != nullptr && !SameName(window.windowClass->name, className)) return false;
  return windowName == nullptr || SameName(window.name, windowName);
}

}  // namespace

DWORD WindowOwner(HWND handle) {
  std::lock_guard guard(Lock());
  auto window = FindWindowLocked(handle);
  return window ? window->owner : 0;
}

LRESULT CallWindowProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure = nullptr;
  {
    std::lock_guard guard(Lock());
    auto window = FindWindowLocked(handle);
    if (window) procedure = window->procedure;
  }
  return procedure ? procedure(handle, message, wParam, lParam) : 0;
}

void DiscardWindowsOfThreadLocked(DWORD threadId) {
  std::vector<HWND> owned;
  for (const auto& [handle, window] : State().windows)
    if (window->owner == threadId) owned.push_back(reinterpret_cast<HWND>(handle));
  for (HWND handle : owned) RemoveWindowLocked(handle);
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx) {
  DWORD error = 0;
  if (ConsumeFault("RegisterClassExA", &error)) {
    SetLastError(error);
    return 0;
  }
  if (lpwcx == nullptr || lpwcx->cbSize != sizeof(WNDCLASSEXA) || lpwcx->lpszClassName == nullptr ||
      lpwcx->lpfnWndProc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard guard(Lock());
  if (FindClassLocked(lpwcx->hInstance, lpwcx->lpszClassName)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto windowClass = std::make_shared<WindowClass>();
  windowClass->info = *lpwcx;
  windowClass->name = lpwcx->lpszClassName;
  windowClass->info.lpszClassName = nullptr;  // the caller's string need not outlive the call
  windowClass->info.lpszMenuName = nullptr;
  windowClass->atom = State().nextAtom++;
  State().classes.push_back(windowClass);
  return windowClass->atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
  if (FailsByFault("UnregisterClassA")) return FALSE;
  std::lock_guard guard(Lock());
  auto windowClass = ExistingClassLocked(hInstance, lpClassName);
  if (!windowClass) return FALSE;
  if (windowClass->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  auto& classes = State().classes;
  classes.erase(std::find(classes.begin(), classes.end(), windowClass));
  return TRUE;
}

BOOL WINAPI GetClassInfoExA(HINSTANCE hInstance, LPCSTR lpszClass, LPWNDCLASSEXA lpwcx) {
  if (lpwcx == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard guard(Lock());
  auto windowClass = ExistingClassLocked(hInstance, lpszClass);
  if (!windowClass) return FALSE;
  *lpwcx = windowClass->info;
  lpwcx->lpszClassName = lpszClass;
  return windowClass->atom;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  DWORD error = 0;
  if (ConsumeFault("CreateWindowExA", &error)) {
    SetLastError(error);
    return nullptr;
  }
  if (lpClassName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HWND window;
  {
    std::lock_guard guard(Lock());
    auto windowClass = FindClassLocked(hInstance, lpClassName);
    if (!windowClass) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (!ValidParent(hWndParent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    window = InsertWindowLocked(windowClass, lpWindowName, hWndParent, hInstance);
  }
  CREATESTRUCTA create = {lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X,
                          static_cast<LONG>(dwStyle), lpWindowName, lpClassName, dwExStyle};
  LPARAM createParam = reinterpret_cast<LPARAM>(&create);
  // As on Windows, the procedure sees WM_NCCREATE and WM_CREATE before the caller has the handle.
  if (!CallWindowProcedure(window, WM_NCCREATE, 0, createParam)) return AbandonCreation(window, false);
  if (CallWindowProcedure(window, WM_CREATE, 0, createParam) == -1) return AbandonCreation(window, true);
  return window;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  if (FailsByFault("DestroyWindow")) return FALSE;
  {
    std::lock_guard guard(Lock());
    auto window = FindWindowLocked(hWnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (window->owner != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    // A procedure that destroys its window again while it is being destroyed changes nothing.
    if (window->destroying) return TRUE;
    window->destroying = true;
  }
  CallWindowProcedure(hWnd, WM_DESTROY, 0, 0);
  CallWindowProcedure(hWnd, WM_NCDESTROY, 0, 0);
  {
    std::lock_guard guard(Lock());
    RemoveWindowLocked(hWnd);
  }
  StateChanged().notify_all();
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  std::lock_guard guard(Lock());
  return FindWindowLocked(hWnd) ? TRUE : FALSE;
}

HWND WINAPI FindWindowExA(HWND hWndParent, HWND hWndChildAfter, LPCSTR lpszClass, LPCSTR lpszWindow) {
  std::lock_guard guard(Lock());
  bool afterFound = hWndChildAfter == nullptr;
  for (const auto& [handle, window] : State().windows) {
    HWND current = reinterpret_cast<HWND>(handle);
    if (!afterFound) {
      afterFound = current == hWndChildAfter;
      continue;
    }
    if (MatchesSearch(*window, hWndParent, lpszClass, lpszWindow)) return current;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  if (FailsByFault("SetWindowLongPtrA")) return 0;
  std::lock_guard guard(Lock());
  LONG_PTR* value = LookupWindowLong(hWnd, nIndex);
  if (value == nullptr) return 0;
  LONG_PTR previous = *value;
  *value = dwNewLong;
  return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
  if (FailsByFault("GetWindowLongPtrA")) return 0;
  std::lock_guard guard(Lock());
  LONG_PTR* value = LookupWindowLong(hWnd, nIndex);
  return value ? *value : 0;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
  CountCall("DefWindowProcA");
  switch (Msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    default:
      return 0;
  }
}

}  // extern "C"
