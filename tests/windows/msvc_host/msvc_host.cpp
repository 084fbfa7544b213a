// A host as an MSVC-built application sees the client library: compiled by clang-cl in MSVC
// mode against the public header alone, without the C runtime or the SDK headers. It loads
// portlink64.dll, uses a connection through the interface and deletes it with `delete`,
// which in MSVC's ABI calls the connection's scalar deleting destructor (slot 2) with flag 1.
// Run under Wine. The exit code names the first step that failed (0: all passed).
#include "TarrowinHiddenMIDI.h"

// The few system functions used, declared here: no SDK header, no runtime library.
extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) void* __stdcall FindWindowExA(void* parent, void* after, const char* className,
                                                    const char* title);
}

namespace {

void* const kMessageOnlyParent = reinterpret_cast<void*>(static_cast<long long>(-3));  // HWND_MESSAGE

bool NotificationWindowExists() {
  return FindWindowExA(kMessageOnlyParent, nullptr, "TarrowinVODINotify", nullptr) != nullptr;
}

template <typename Function>
Function Export(void* library, const char* name) {
  return reinterpret_cast<Function>(GetProcAddress(library, name));
}

void __stdcall IgnoreNotification(void*) {}

unsigned int Run() {
  void* library = LoadLibraryA("portlink64.dll");
  if (library == nullptr) return 10;
  auto create = Export<TarrowinHiddenMIDI::VODICreateFunction>(library, "VODICreate");
  auto destroy = Export<TarrowinHiddenMIDI::VODIDestroyFunction>(library, "VODIDestroy");
  auto version = Export<TarrowinHiddenMIDI::VODIGetVersionFunction>(library, "VODIGetVersion");
  if (create == nullptr || destroy == nullptr || version == nullptr) return 11;
  if (version() != 1) return 12;

  TarrowinHiddenMIDI::Connection* connection = create(IgnoreNotification, nullptr);
  if (connection == nullptr) return 20;
  if (!NotificationWindowExists()) return 21;
  // Slots 0 and 1 by MSVC's table: Wine's SetupAPI knows no device of the package.
  if (connection->GetDeviceCount() != 0) return 22;
  if (connection->CreateDevice(0) != nullptr) return 23;
  if (connection->CreateDevice(-1) != nullptr) return 24;

  // Slot 2: the library destroys the connection (its window goes) and frees it.
  delete connection;
  if (NotificationWindowExists()) return 30;
  destroy(nullptr);
  return FreeLibrary(library) ? 0 : 40;
}

}  // namespace

// The process entry: no C runtime, so no main.
extern "C" void __stdcall HostMain() { ExitProcess(Run()); }
