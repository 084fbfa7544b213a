// A small Windows host for the client library, run under Wine: it loads the DLL, resolves
// the exports by name and by ordinal, and checks the connection's window and its class.
// The exit code names the first step that failed (0: all passed).
#include <windows.h>

#include "client/TarrowinHiddenMIDI.h"

namespace {

const char kWindowClass[] = "TarrowinVODINotify";

bool ClassRegistered(HMODULE module) {
  WNDCLASSEXA info = {};
  info.cbSize = sizeof info;
  return GetClassInfoExA(module, kWindowClass, &info) != FALSE;
}

HMODULE ModuleOf(LONG_PTR address) {
  HMODULE module = NULL;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(address), &module);
  return module;
}

// The export found by name, or null when the one found by ordinal is another.
template <typename Function>
Function Export(HMODULE library, const char* name, WORD ordinal) {
  FARPROC byName = GetProcAddress(library, name);
  FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
  if (byName != byOrdinal) return NULL;
  // Through the generic function pointer type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(byName));
}

int Run() {
  HMODULE library = LoadLibraryA("portlink64.dll");
  if (library == NULL) return 10;
  auto create = Export<TarrowinHiddenMIDI::VODICreateFunction>(library, "VODICreate", 1);
  auto destroy = Export<TarrowinHiddenMIDI::VODIDestroyFunction>(library, "VODIDestroy", 2);
  auto version = Export<TarrowinHiddenMIDI::VODIGetVersionFunction>(library, "VODIGetVersion", 3);
  if (create == NULL || destroy == NULL || version == NULL) return 11;
  if (version() != 1) return 12;
  if (ClassRegistered(library)) return 13;

  TarrowinHiddenMIDI::Connection* connection = create(NULL, NULL);
  if (connection == NULL) return 20;
  HWND window = FindWindowExA(HWND_MESSAGE, NULL, kWindowClass, NULL);
  if (window == NULL) return 21;
  // The class is the library's own, not the executable's.
  if (!ClassRegistered(library) || ClassRegistered(GetModuleHandleA(NULL))) return 22;
  // Message retrieval with no device events must not disturb the connection.
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  // Wine's SetupAPI knows no device of this package: the enumeration runs the real calls
  // and finds nothing to count or create.
  if (connection->GetDeviceCount() != 0) return 23;
  if (connection->CreateDevice(0) != NULL) return 24;

  destroy(connection);
  if (IsWindow(window)) return 30;
  if (FindWindowExA(HWND_MESSAGE, NULL, kWindowClass, NULL) != NULL) return 31;
  if (ClassRegistered(library)) return 32;
  destroy(NULL);
  return FreeLibrary(library) ? 0 : 40;
}

// A plug-in host: a second copy of the library, from a folder of its own, beside the first.
// Each copy's window runs that copy's procedure; the second's outlives the first copy.
int RunTwoCopies() {
  // Both paths from the host's own folder, whatever the current directory.
  char original[MAX_PATH], path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  while (length > 0 && path[length - 1] != '\\') --length;
  path[length] = '\0';
  lstrcpyA(original, path);
  lstrcatA(original, "portlink64.dll");
  lstrcatA(path, "plugin_copy");
  CreateDirectoryA(path, NULL);
  lstrcatA(path, "\\portlink64.dll");
  if (!CopyFileA(original, path, FALSE)) return 50;
  HMODULE copies[2] = {LoadLibraryA("portlink64.dll"), LoadLibraryA(path)};
  if (copies[0] == NULL || copies[1] == NULL || copies[0] == copies[1]) return 51;
  TarrowinHiddenMIDI::Connection* connections[2] = {};
  HWND windows[2] = {};
  for (int i = 0; i < 2; ++i) {
    auto create = Export<TarrowinHiddenMIDI::VODICreateFunction>(copies[i], "VODICreate", 1);
    connections[i] = create(NULL, NULL);
    // The new window, wherever the window order puts it.
    windows[i] = FindWindowExA(HWND_MESSAGE, NULL, kWindowClass, NULL);
    if (windows[i] == windows[0] && i == 1) windows[i] = FindWindowExA(HWND_MESSAGE, windows[0], kWindowClass, NULL);
    if (connections[i] == NULL || windows[i] == NULL) return 52;
    if (ModuleOf(GetWindowLongPtrA(windows[i], GWLP_WNDPROC)) != copies[i]) return 53;
  }
  Export<TarrowinHiddenMIDI::VODIDestroyFunction>(copies[0], "VODIDestroy", 2)(connections[0]);
  if (!FreeLibrary(copies[0])) return 54;
  if (!IsWindow(windows[1]) || !ClassRegistered(copies[1])) return 55;
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  Export<TarrowinHiddenMIDI::VODIDestroyFunction>(copies[1], "VODIDestroy", 2)(connections[1]);
  if (IsWindow(windows[1]) || ClassRegistered(copies[1])) return 56;
  return FreeLibrary(copies[1]) ? 0 : 57;
}

}  // namespace

int main() {
  int failed = Run();
  return failed != 0 ? failed : RunTwoCopies();
}
