// Modules: LoadLibraryA, GetProcAddress, GetModuleHandleA and GetModuleFileNameA.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "internal.h"
#include "winsim/control.h"

namespace winsim {
namespace {

struct Module {
  std::map<std::string, FARPROC> procs;
  uintptr_t base = 0;
};

struct Modules {
  std::map<std::string, Module> byName;  // lower-case names
  uintptr_t nextBase = 0x10000000;
  std::map<std::string, Module> system;  // restored by Reset
};

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

// Loaded shared libraries and their load counts; they stay loaded across Reset, as a
// process keeps the modules it loaded.
std::map<void*, int>& SharedLibraries() {
  static std::map<void*, int>* libraries = new std::map<void*, int>;
  return *libraries;
}

HMODULE LoadSharedLibrary(const char* name) {
  std::string file(name);
  std::replace(file.begin(), file.end(), '\\', '/');
  void* handle = nullptr;
  if (file.find('/') == std::string::npos) handle = dlopen((ExecutableDirectory() + "/" + file).c_str(), RTLD_NOW);
  if (handle == nullptr) handle = dlopen(file.c_str(), RTLD_NOW);
  if (handle != nullptr) {
    std::lock_guard guard(detail::Lock());
    ++SharedLibraries()[handle];
  }
  return static_cast<HMODULE>(handle);
}

bool IsSharedLibrary(HMODULE module) { return SharedLibraries().count(module) != 0; }

Modules& State() {
  static Modules state;
  return state;
}

// The executable's module handle, as GetModuleHandleA(NULL) reports it.
const uintptr_t kExecutableBase = 0x00400000;
const char kExecutablePath[] = "C:\\Program Files\\Host\\host.exe";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// LoadLibraryA accepts a bare name or a path; the file name decides.
std::string ModuleKey(const char* name) {
  std::string key = Lower(name);
  size_t slash = key.find_last_of("\\/");
  if (slash != std::string::npos) key.erase(0, slash + 1);
  if (key.find('.') == std::string::npos) key += ".dll";
  return key;
}

Module* FindByBase(HMODULE module) {
  for (auto& [name, entry] : State().byName)
    if (entry.base == reinterpret_cast<uintptr_t>(module)) return &entry;
  return nullptr;
}

detail::ResetRegistration resetModules([] {
  std::lock_guard guard(detail::Lock());
  State().byName = State().system;
});

uintptr_t NextBaseLocked() {
  uintptr_t base = State().nextBase;
  State().nextBase += 0x100000;
  return base;
}

}  // namespace

void RegisterModule(const std::string& name, const std::vector<std::pair<std::string, FARPROC>>& procs) {
  std::lock_guard guard(detail::Lock());
  Module& module = State().byName[ModuleKey(name.c_str())];
  if (module.base == 0) module.base = NextBaseLocked();
  module.procs.clear();
  for (const auto& [procName, address] : procs) module.procs[procName] = address;
}

namespace detail {

void RegisterSystemModule(const std::string& name, const std::vector<std::pair<std::string, FARPROC>>& procs) {
  std::lock_guard guard(Lock());
  Module module;
  module.base = NextBaseLocked();
  for (const auto& [procName, address] : procs) module.procs[procName] = address;
  State().system[ModuleKey(name.c_str())] = module;
  State().byName[ModuleKey(name.c_str())] = module;
}

}  // namespace detail

void UnregisterModule(const std::string& name) {
  std::lock_guard guard(detail::Lock());
  State().byName.erase(ModuleKey(name.c_str()));
}

void RemoveModuleProc(const std::string& module, const std::string& proc) {
  std::lock_guard guard(detail::Lock());
  auto found = State().byName.find(ModuleKey(module.c_str()));
  if (found != State().byName.end()) found->second.procs.erase(proc);
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
  {
    std::lock_guard guard(winsim::detail::Lock());
    auto found = State().byName.find(winsim::ModuleKey(lpLibFileName));
    if (found != State().byName.end()) return reinterpret_cast<HMODULE>(found->second.base);
  }
  // Outside the lock: loading runs the library's initialisation, which may call the platform.
  HMODULE library = winsim::LoadSharedLibrary(lpLibFileName);
  if (library == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return library;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  if (winsim::detail::FailsByFault("GetProcAddress")) return nullptr;
  std::lock_guard guard(winsim::detail::Lock());
  winsim::Module* module = winsim::FindByBase(hModule);
  if (module == nullptr && winsim::IsSharedLibrary(hModule) && reinterpret_cast<uintptr_t>(lpProcName) >= 0x10000) {
    FARPROC proc = reinterpret_cast<FARPROC>(dlsym(hModule, lpProcName));
    if (proc == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
    return proc;
  }
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // A value below 0x10000 is an ordinal; the simulated modules export by name only.
  if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto found = module->procs.find(lpProcName);
  if (found == module->procs.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return found->second;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  if (winsim::detail::FailsByFault("FreeLibrary")) return FALSE;
  {
    std::lock_guard guard(winsim::detail::Lock());
    if (winsim::FindByBase(hLibModule)) return TRUE;
    auto found = winsim::SharedLibraries().find(hLibModule);
    if (found == winsim::SharedLibraries().end()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return FALSE;
    }
    if (--found->second == 0) winsim::SharedLibraries().erase(found);
  }
  // Outside the lock: unloading may run the library's finalisation, which may call the platform.
  return dlclose(hLibModule) == 0 ? TRUE : FALSE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  if (winsim::detail::FailsByFault("GetModuleHandleA")) return nullptr;
  if (lpModuleName == nullptr) return reinterpret_cast<HMODULE>(winsim::kExecutableBase);
  std::lock_guard guard(winsim::detail::Lock());
  auto found = State().byName.find(winsim::ModuleKey(lpModuleName));
  if (found == State().byName.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(found->second.base);
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (winsim::detail::FailsByFault("GetModuleFileNameA")) return 0;
  std::string path;
  if (hModule == nullptr || reinterpret_cast<uintptr_t>(hModule) == winsim::kExecutableBase) {
    path = winsim::kExecutablePath;
  } else {
    std::lock_guard guard(winsim::detail::Lock());
    for (const auto& [name, module] : State().byName)
      if (module.base == reinterpret_cast<uintptr_t>(hModule)) path = "C:\\Windows\\System32\\" + name;
    if (path.empty()) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
  }
  if (nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Windows truncates to nSize - 1 characters, terminates, and reports the truncation.
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
