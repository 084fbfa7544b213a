// Modules: LoadLibraryA, LoadLibraryExA, GetProcAddress, FreeLibrary, GetModuleHandleA,
// GetModuleHandleExA, GetModuleFileNameA and GetSystemDirectoryA. Simulated modules (ksuser.dll)
// are tables of exports in the system directory or in the host's own directory; real shared
// libraries of this machine (the deliverables) are loaded with dlopen, each path as a module of
// its own, and get their DllMain notifications.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kernel32/modules.h"
#include "runtime/fault_injection.h"
#include "runtime/last_error.h"
#include "runtime/reset.h"
#include "runtime/text.h"
#include "winsim/control.h"

namespace winsim {
namespace {

struct Module {
  std::map<std::string, FARPROC> procs;
  std::map<WORD, FARPROC> ordinals;
  uintptr_t base = 0;
  bool loaded = false;  // for the host directory's modules: GetModuleHandleA finds them once loaded
};

struct Modules {
  std::map<std::string, Module> byName;  // the system directory's, by lower-case file name
  std::map<std::string, Module> besideExecutable;  // the host's own directory's, the same way
  uintptr_t nextBase = 0x10000000;
  std::map<std::string, Module> system;  // restored by Reset
  std::map<std::string, std::string> pathOverrides;  // lower-case file name -> Windows path
};

typedef BOOL(WINAPI* DllEntry)(HINSTANCE, DWORD, LPVOID);

// A real shared library and its load count. Libraries stay loaded across Reset, as a process
// keeps the modules it loaded.
struct SharedLibrary {
  int count = 0;
  std::string windowsPath;
  DllEntry entry = nullptr;
};

// The loader lock: one load or unload at a time, DllMain included, as on Windows. Recursive,
// because a DllMain may itself load or free a library.
std::recursive_mutex& LoaderLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}

// Modules that are not simulated are real shared libraries of this machine (the client
// library itself, loaded by a host), found first in the executable's directory as Windows
// looks in the application directory first.
std::string ExecutableDirectory() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  path[length] = '\0';
  std::string directory(path);
  return directory.substr(0, directory.find_last_of('/'));
}

std::map<void*, SharedLibrary>& SharedLibraries() {
  static std::map<void*, SharedLibrary>* libraries = new std::map<void*, SharedLibrary>;
  return *libraries;
}

Modules& State() {
  static Modules state;
  return state;
}

// The executable's module handle, as GetModuleHandleA(NULL) reports it.
const uintptr_t kExecutableBase = 0x00400000;
const char kExecutablePath[] = "C:\\Program Files\\Host\\host.exe";
const char kExecutableDirectory[] = "C:\\Program Files\\Host\\";
const char kSystemDirectory[] = "C:\\Windows\\System32";
const char kSystemDirectoryPrefix[] = "C:\\Windows\\System32\\";

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// LoadLibraryA accepts a bare name or a path; the file name decides.
std::string ModuleKey(const char* name) {
  std::string key = detail::Lower(FileNameOf(name));
  if (key.find('.') == std::string::npos) key += ".dll";
  return key;
}

// The directory part of a module name, lower case with backslashes and a final one; empty for
// a bare name.
std::string DirectoryKey(const char* name) {
  std::string path = detail::Lower(name);
  std::replace(path.begin(), path.end(), '/', '\\');
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where a bare module name is looked for: the standard order, or the system directory alone
// (LOAD_LIBRARY_SEARCH_SYSTEM32).
enum class Search { Standard, SystemOnly };

// The simulated module a name denotes. A path names its directory. A bare name is looked for
// in the host's directory first, then in the system directory: the standard search order,
// which no simulated module escapes by being a known DLL. `loadedOnly` leaves out host
// directory modules nobody loaded, as GetModuleHandleA finds only loaded modules.
Module* FindSimulatedLocked(const char* name, Search search, bool loadedOnly) {
  const std::string directory = DirectoryKey(name), key = ModuleKey(name);
  if ((directory.empty() && search == Search::Standard) || directory == detail::Lower(kExecutableDirectory)) {
    auto found = State().besideExecutable.find(key);
    if (found != State().besideExecutable.end() && (found->second.loaded || !loadedOnly)) return &found->second;
  }
  if (directory.empty() || directory == detail::Lower(kSystemDirectoryPrefix)) {
    auto found = State().byName.find(key);
    if (found != State().byName.end()) return &found->second;
  }
  return nullptr;
}

// The Windows form of the path a library was loaded from.
std::string WindowsPathOf(const std::string& linuxPath, bool besideExecutable) {
  const std::string fileName = FileNameOf(linuxPath);
  {
    std::lock_guard guard(detail::Lock());
    auto found = State().pathOverrides.find(detail::Lower(fileName));
    if (found != State().pathOverrides.end()) return found->second;
  }
  if (besideExecutable) return kExecutableDirectory + fileName;
  std::string path = "Z:" + linuxPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// The library's own DllMain, if it has one: dlsym also searches the libraries it depends on,
// whose DllMain is not its own.
DllEntry OwnEntryPoint(void* handle) {
  void* symbol = dlsym(handle, "DllMain");
  link_map* map = nullptr;
  Dl_info info;
  if (symbol == nullptr || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || dladdr(symbol, &info) == 0) return nullptr;
  if (map == nullptr || info.dli_fname == nullptr || std::strcmp(map->l_name, info.dli_fname) != 0) return nullptr;
  return reinterpret_cast<DllEntry>(symbol);
}

// Loads a real shared library; on its first load its DllMain is told of the attach, and a
// FALSE answer undoes the load as Windows does (detach notification, unload, error 1114).
HMODULE LoadSharedLibrary(const char* name) {
  std::string file(name);
  std::replace(file.begin(), file.end(), '\\', '/');
  std::string loadedFrom;
  void* handle = nullptr;
  bool besideExecutable = false;
  if (file.find('/') == std::string::npos) {
    loadedFrom = ExecutableDirectory() + "/" + file;
    handle = dlopen(loadedFrom.c_str(), RTLD_NOW);
    besideExecutable = handle != nullptr;
  }
  if (handle == nullptr) {
    loadedFrom = file;
    handle = dlopen(file.c_str(), RTLD_NOW);
  }
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  DllEntry entry = nullptr;
  {
    std::lock_guard guard(detail::Lock());
    SharedLibrary& library = SharedLibraries()[handle];
    if (library.count++ > 0) return static_cast<HMODULE>(handle);
    library.entry = entry = OwnEntryPoint(handle);
  }
  // Known before DllMain runs: DllMain may ask for its own file name.
  std::string windowsPath = WindowsPathOf(loadedFrom, besideExecutable);
  {
    std::lock_guard guard(detail::Lock());
    SharedLibraries()[handle].windowsPath = windowsPath;
  }
  HMODULE module = static_cast<HMODULE>(handle);
  if (entry == nullptr || entry(module, DLL_PROCESS_ATTACH, nullptr)) return module;
  entry(module, DLL_PROCESS_DETACH, nullptr);
  {
    std::lock_guard guard(detail::Lock());
    SharedLibraries().erase(handle);
  }
  dlclose(handle);
  SetLastError(ERROR_DLL_INIT_FAILED);
  return nullptr;
}

bool IsSharedLibrary(HMODULE module) { return SharedLibraries().count(module) != 0; }

// The simulated module loaded at this address; *path, when asked for, receives its Windows path.
Module* FindByBase(HMODULE module, std::string* path = nullptr) {
  const std::pair<std::map<std::string, Module>*, std::string_view> directories[] = {
      {&State().byName, kSystemDirectoryPrefix}, {&State().besideExecutable, kExecutableDirectory}};
  for (auto& [modules, directory] : directories)
    for (auto& [name, entry] : *modules)
      if (entry.base == reinterpret_cast<uintptr_t>(module)) {
        if (path != nullptr) *path = std::string(directory) + name;
        return &entry;
      }
  return nullptr;
}

detail::ResetRegistration resetModules([] {
  std::lock_guard guard(detail::Lock());
  State().byName = State().system;
  State().besideExecutable.clear();
  State().pathOverrides.clear();
});

// The module that holds an address: the executable, a library loaded through LoadLibraryA,
// or (by its own load) a library the executable was linked with.
HMODULE ModuleHoldingAddress(const void* address) {
  Dl_info info;
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr) return nullptr;
  if (map->l_name == nullptr || map->l_name[0] == '\0') return reinterpret_cast<HMODULE>(kExecutableBase);
  std::lock_guard guard(detail::Lock());
  for (const auto& [handle, library] : SharedLibraries()) {
    link_map* own = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &own) == 0 && own == map) return static_cast<HMODULE>(handle);
  }
  return reinterpret_cast<HMODULE>(map);
}

// One more reference to a library loaded through LoadLibraryA, as FreeLibrary will end it.
void AddReference(HMODULE module) {
  link_map* map = nullptr;
  {
    std::lock_guard guard(detail::Lock());
    auto found = SharedLibraries().find(module);
    if (found == SharedLibraries().end() || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0) return;
    ++found->second.count;
  }
  dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);  // each reference holds one dlopen, as LoadLibraryA's do
}

HMODULE FindModuleByName(LPCSTR name) {
  if (name == nullptr) return reinterpret_cast<HMODULE>(kExecutableBase);
  std::lock_guard guard(detail::Lock());
  Module* module = FindSimulatedLocked(name, Search::Standard, true);
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(module->base);
}

// LoadLibraryA and LoadLibraryExA after their own checks.
HMODULE LoadModule(LPCSTR name, Search search) {
  {
    std::lock_guard guard(detail::Lock());
    if (Module* module = FindSimulatedLocked(name, search, false)) {
      module->loaded = true;
      return reinterpret_cast<HMODULE>(module->base);
    }
  }
  // The deliverables are never in the system directory.
  if (search == Search::SystemOnly && DirectoryKey(name).empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // Outside the platform's lock: loading runs the library's initialisation and DllMain, which
  // call the platform.
  std::lock_guard loader(LoaderLock());
  return LoadSharedLibrary(name);
}

uintptr_t NextBaseLocked() {
  uintptr_t base = State().nextBase;
  State().nextBase += 0x100000;
  return base;
}

void FillExports(Module& module, const std::vector<ModuleExport>& exports) {
  module.procs.clear();
  module.ordinals.clear();
  WORD ordinal = 0;
  for (const ModuleExport& entry : exports) {
    ordinal = entry.ordinal != 0 ? entry.ordinal : static_cast<WORD>(ordinal + 1);
    module.ordinals[ordinal] = entry.address;
    if (!entry.name.empty()) module.procs[entry.name] = entry.address;
  }
}

// A name pointer below 0x10000 is an ordinal, as GetProcAddress reads it.
bool IsOrdinal(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000; }

FARPROC SharedLibraryProc(HMODULE module, LPCSTR name) {
  // Shared libraries export by name only; they have no ordinals.
  if (IsOrdinal(name)) return detail::Fail<FARPROC>(ERROR_PROC_NOT_FOUND);
  FARPROC proc = reinterpret_cast<FARPROC>(dlsym(module, name));
  return proc != nullptr ? proc : detail::Fail<FARPROC>(ERROR_PROC_NOT_FOUND);
}

FARPROC SimulatedProc(const Module& module, LPCSTR name) {
  if (IsOrdinal(name)) {
    auto found = module.ordinals.find(static_cast<WORD>(reinterpret_cast<uintptr_t>(name)));
    return found != module.ordinals.end() ? found->second : detail::Fail<FARPROC>(ERROR_PROC_NOT_FOUND);
  }
  auto found = module.procs.find(name);
  return found != module.procs.end() ? found->second : detail::Fail<FARPROC>(ERROR_PROC_NOT_FOUND);
}

// Ends one reference to a real shared library; the last one tells its DllMain of the detach
// and unloads it.
BOOL FreeSharedLibrary(HMODULE module) {
  DllEntry entry = nullptr;
  {
    std::lock_guard guard(detail::Lock());
    auto found = SharedLibraries().find(module);
    if (found == SharedLibraries().end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    if (--found->second.count > 0) {
      dlclose(module);  // each LoadLibraryA opened it once more
      return TRUE;
    }
    entry = found->second.entry;
  }
  if (entry != nullptr) entry(module, DLL_PROCESS_DETACH, nullptr);
  {
    std::lock_guard guard(detail::Lock());
    SharedLibraries().erase(module);
  }
  return dlclose(module) == 0 ? TRUE : FALSE;
}

std::string ModulePathLocked(HMODULE module) {
  if (module == nullptr || reinterpret_cast<uintptr_t>(module) == kExecutableBase) return kExecutablePath;
  if (std::string path; FindByBase(module, &path)) return path;
  auto library = SharedLibraries().find(module);
  return library != SharedLibraries().end() ? library->second.windowsPath : std::string();
}

}  // namespace

void RegisterModule(const std::string& name, const std::vector<ModuleExport>& exports) {
  std::lock_guard guard(detail::Lock());
  Module& module = State().byName[ModuleKey(name.c_str())];
  if (module.base == 0) module.base = NextBaseLocked();
  FillExports(module, exports);
}

namespace detail {

void RegisterSystemModule(const std::string& name, const std::vector<ModuleExport>& exports) {
  std::lock_guard guard(Lock());
  Module module;
  module.base = NextBaseLocked();
  FillExports(module, exports);
  State().system[ModuleKey(name.c_str())] = module;
  State().byName[ModuleKey(name.c_str())] = module;
}

}  // namespace detail

void RegisterApplicationModule(const std::string& name, const std::vector<ModuleExport>& exports) {
  std::lock_guard guard(detail::Lock());
  Module& module = State().besideExecutable[ModuleKey(name.c_str())];
  if (module.base == 0) module.base = NextBaseLocked();
  FillExports(module, exports);
}

void UnregisterModule(const std::string& name) {
  std::lock_guard guard(detail::Lock());
  State().byName.erase(ModuleKey(name.c_str()));
}

void RemoveModuleProc(const std::string& module, const std::string& proc) {
  std::lock_guard guard(detail::Lock());
  auto found = State().byName.find(ModuleKey(module.c_str()));
  if (found == State().byName.end()) return;
  auto named = found->second.procs.find(proc);
  if (named == found->second.procs.end()) return;
  for (auto it = found->second.ordinals.begin(); it != found->second.ordinals.end();)
    it = it->second == named->second ? found->second.ordinals.erase(it) : std::next(it);
  found->second.procs.erase(named);
}

void SetModulePath(const std::string& fileName, const std::string& windowsPath) {
  std::lock_guard guard(detail::Lock());
  State().pathOverrides[detail::Lower(fileName)] = windowsPath;
}

}  // namespace winsim

using winsim::State;

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  DWORD error = 0;
  if (lpLibFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (winsim::detail::ConsumeFault("LoadLibraryA", &error)) {
    SetLastError(error);
    return nullptr;
  }
  return winsim::LoadModule(lpLibFileName, winsim::Search::Standard);
}

// A path loads from its directory whichever flag is given (the flags then steer only the
// search for the library's own imports, which simulated modules do not have). Flags other
// than these two are not modelled and refused.
HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD dwFlags) {
  DWORD error = 0;
  if (lpLibFileName == nullptr || (dwFlags & ~(LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_SYSTEM32)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (winsim::detail::ConsumeFault("LoadLibraryExA", &error)) {
    SetLastError(error);
    return nullptr;
  }
  bool systemOnly = (dwFlags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
  return winsim::LoadModule(lpLibFileName, systemOnly ? winsim::Search::SystemOnly : winsim::Search::Standard);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (winsim::detail::FailsByFault("GetProcAddress")) return nullptr;
  std::lock_guard guard(winsim::detail::Lock());
  if (winsim::Module* module = winsim::FindByBase(hModule)) return winsim::SimulatedProc(*module, lpProcName);
  if (winsim::IsSharedLibrary(hModule)) return winsim::SharedLibraryProc(hModule, lpProcName);
  return winsim::detail::Fail<FARPROC>(ERROR_MOD_NOT_FOUND);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (winsim::detail::FailsByFault("FreeLibrary")) return FALSE;
  {
    std::lock_guard guard(winsim::detail::Lock());
    if (winsim::FindByBase(hLibModule)) return TRUE;
  }
  // Outside the platform's lock: unloading runs DllMain and the library's finalisation.
  std::lock_guard loader(winsim::LoaderLock());
  return winsim::FreeSharedLibrary(hLibModule);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (winsim::detail::FailsByFault("GetModuleHandleA")) return nullptr;
  return winsim::FindModuleByName(lpModuleName);
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
  const DWORD kPinOrUnchanged = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (phModule == nullptr || (dwFlags & kPinOrUnchanged) == kPinOrUnchanged ||
      (dwFlags & ~(kPinOrUnchanged | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = nullptr;
  if (winsim::detail::FailsByFault("GetModuleHandleExA")) return FALSE;
  HMODULE module = nullptr;
  if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) != 0) {
    module = winsim::ModuleHoldingAddress(lpModuleName);
    if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  } else {
    module = winsim::FindModuleByName(lpModuleName);
  }
  if (module == nullptr) return FALSE;
  // A pinned module keeps the reference taken here for good.
  if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) == 0) {
    std::lock_guard loader(winsim::LoaderLock());
    winsim::AddReference(module);
  }
  *phModule = module;
  return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  if (winsim::detail::FailsByFault("GetSystemDirectoryA")) return 0;
  const UINT length = static_cast<UINT>(std::strlen(winsim::kSystemDirectory));
  // Too small: the size needed, terminator included, and nothing written.
  if (lpBuffer == nullptr || uSize <= length) return length + 1;
  std::memcpy(lpBuffer, winsim::kSystemDirectory, length + 1);
  return length;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (winsim::detail::FailsByFault("GetModuleFileNameA")) return 0;
  std::string path;
  {
    std::lock_guard guard(winsim::detail::Lock());
    path = winsim::ModulePathLocked(hModule);
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Windows truncates to nSize - 1 characters, terminates, and reports the truncation by
  // returning nSize.
  DWORD length = static_cast<DWORD>(path.size());
  DWORD copied = std::min(length, nSize - 1);
  std::memcpy(lpFilename, path.data(), copied);
  lpFilename[copied] = '\0';
  if (copied < length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  return copied;
}

}  // extern "C"
