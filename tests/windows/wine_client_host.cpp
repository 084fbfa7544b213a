// A small Windows host for the client library, run under Wine: it loads the DLL, resolves
// the exports by name and by ordinal, and checks the connection's window and its class.
// The exit code names the first step that failed (0: all passed).
#include <windows.h>

#include "client/TarrowinHiddenMIDI.h"

namespace {

const char kWindowClass[] = "TarrowinVODINotify";

bool ClassRegistered() {
  WNDCLASSEXA info = {};
  info.cbSize = sizeof info;
  return GetClassInfoExA(GetModuleHandleA(NULL), kWindowClass, &info) != FALSE;
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
  if (ClassRegistered()) return 13;

  TarrowinHiddenMIDI::Connection* connection = create(NULL, NULL);
  if (connection == NULL) return 20;
  HWND window = FindWindowExA(HWND_MESSAGE, NULL, kWindowClass, NULL);
  if (window == NULL) return 21;
  if (!ClassRegistered()) return 22;
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
  if (ClassRegistered()) return 32;
  destroy(NULL);
  return FreeLibrary(library) ? 0 : 40;
}

}  // namespace

int main() { return Run(); }
