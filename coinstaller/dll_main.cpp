// The library's entry point: it keeps the module's own file name while it is loaded.
#include "coinstaller/own_file_name.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) return CaptureOwnFileName(hInstance);
  if (dwReason == DLL_PROCESS_DETACH) ClearOwnFileName();
  return TRUE;
}
