// The registry: a tree of keys per predefined root, open keys with the rights they were
// granted, and the value calls with the size and terminator rules of the narrow forms.
#include <algorithm>
#include <cstring>

#include "advapi32/registry.h"
#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "runtime/reset.h"
#include "runtime/text.h"
#include "winsim/control_registry.h"

namespace winsim::detail {
namespace {

struct RegistryNode {
  std::map<std::string, std::shared_ptr<RegistryNode>> subkeys;  // names in lower case
  std::map<std::string, RegistryValue> values;                   // names in lower case
  REGSAM allowed = KEY_ALL_ACCESS;
};

// An open key. Keys live in the handle table so that leaks show in LiveHandleCount, but only
// RegCloseKey closes them, as on Windows.
struct RegistryKey : KernelObject {
  bool ClosableByCloseHandle() const override { return false; }
  std::shared_ptr<RegistryNode> node;
  REGSAM granted = 0;
};

const char kCoDeviceInstallers[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";

std::shared_ptr<RegistryNode> CreateUnder(std::shared_ptr<RegistryNode> node, const std::string& path);

// A machine's registry as Windows installs it, with the keys the deliverables rely on.
struct Roots {
  Roots() {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
      byHandle[reinterpret_cast<uintptr_t>(root)] = std::make_shared<RegistryNode>();
    CreateUnder(byHandle[reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE)], kCoDeviceInstallers);
  }
  std::map<uintptr_t, std::shared_ptr<RegistryNode>> byHandle;
};

AreaState<Roots> State;

std::shared_ptr<RegistryNode> MachineRootLocked() {
  return State().byHandle.at(reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE));
}

// Splits a key path into its names; empty names (doubled or trailing backslashes) are skipped
// as Windows skips them.
std::vector<std::string> PathNames(const std::string& path) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(Lower(path.substr(start, end - start)));
    start = end + 1;
  }
  return names;
}

std::shared_ptr<RegistryNode> FindLocked(std::shared_ptr<RegistryNode> node, const std::string& path) {
  for (const std::string& name : PathNames(path)) {
    auto found = node->subkeys.find(name);
    if (found == node->subkeys.end()) return nullptr;
    node = found->second;
  }
  return node;
}

std::shared_ptr<RegistryNode> CreateUnder(std::shared_ptr<RegistryNode> node, const std::string& path) {
  for (const std::string& name : PathNames(path)) {
    auto& child = node->subkeys[name];
    if (!child) child = std::make_shared<RegistryNode>();
    node = child;
  }
  return node;
}

std::shared_ptr<RegistryNode> CreateLocked(const std::string& path) { return CreateUnder(MachineRootLocked(), path); }

// The node behind a key handle: a predefined root or an open key. `granted` receives the
// rights the handle carries (predefined roots carry every right).
std::shared_ptr<RegistryNode> NodeOf(HKEY hKey, REGSAM* granted) {
  {
    std::lock_guard guard(Lock());
    auto root = State().byHandle.find(reinterpret_cast<uintptr_t>(hKey));
    if (root != State().byHandle.end()) {
      *granted = KEY_ALL_ACCESS;
      return root->second;
    }
  }
  auto key = LookupAs<RegistryKey>(hKey);
  if (!key) return nullptr;
  *granted = key->granted;
  return key->node;
}

// Generic rights map to the key's specific rights; the registry-view flags grant nothing.
// The node of a key for a value call, checked in the order Windows reports: the handle, an
// injected fault, then the rights the handle was opened with.
LONG NodeForValues(HKEY hKey, std::string_view api, REGSAM needed, std::shared_ptr<RegistryNode>* node) {
  REGSAM granted = 0;
  *node = NodeOf(hKey, &granted);
  if (!*node) return ERROR_INVALID_HANDLE;
  DWORD error = 0;
  if (ConsumeFault(api, &error)) return static_cast<LONG>(error);
  return (granted & needed) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

REGSAM MapAccess(REGSAM desired, REGSAM allowed) {
  if (desired & MAXIMUM_ALLOWED) return allowed;
  REGSAM mapped = desired & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | KEY_WOW64_64KEY |
                              KEY_WOW64_32KEY);
  if (desired & (GENERIC_READ | GENERIC_EXECUTE)) mapped |= KEY_READ;
  if (desired & GENERIC_WRITE) mapped |= KEY_WRITE;
  if (desired & GENERIC_ALL) mapped |= KEY_ALL_ACCESS;
  return mapped;
}

std::string ValueKey(LPCSTR name) { return Lower(name ? name : ""); }

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool RemoveKeyHandle(HKEY hKey) {
  if (!LookupAs<RegistryKey>(hKey)) return false;
  RemoveHandle(hKey);
  return true;
}

HKEY NewKeyHandle(std::shared_ptr<RegistryNode> node, REGSAM granted) {
  auto key = std::make_shared<RegistryKey>();
  key->node = std::move(node);
  key->granted = granted;
  return static_cast<HKEY>(InsertHandle(std::move(key)));
}

// Copies a value into the caller's buffer by the narrow query's rules: the stored size is
// reported; a string stored without its terminator gets one where the buffer has room.
LONG CopyValue(const RegistryValue& value, LPBYTE data, LPDWORD size) {
  const DWORD stored = static_cast<DWORD>(value.data.size());
  if (size == nullptr) return ERROR_SUCCESS;
  if (data == nullptr) {
    *size = stored;
    return ERROR_SUCCESS;
  }
  const DWORD room = *size;
  *size = stored;
  if (room < stored) {
    // The buffer's contents are undefined after ERROR_MORE_DATA; it holds the start of the
    // value, unterminated, so that code relying on it shows.
    if (room != 0) std::memcpy(data, value.data.data(), room);
    return ERROR_MORE_DATA;
  }
  // An empty value has no bytes to copy (and its storage may be a null pointer).
  if (stored != 0) std::memcpy(data, value.data.data(), stored);
  if (IsStringType(value.type) && stored != 0 && value.data[stored - 1] != 0 && room > stored) data[stored] = 0;
  return ERROR_SUCCESS;
}

}  // namespace

HKEY OpenKeyHandle(std::map<std::string, RegistryValue> values) {
  auto node = std::make_shared<RegistryNode>();
  node->values = std::move(values);
  return NewKeyHandle(std::move(node), KEY_ALL_ACCESS);
}

}  // namespace winsim::detail

namespace winsim {

void CreateRegistryKey(const std::string& path) {
  std::lock_guard guard(detail::Lock());
  detail::CreateLocked(path);
}

bool RegistryKeyExists(const std::string& path) {
  std::lock_guard guard(detail::Lock());
  return detail::FindLocked(detail::MachineRootLocked(), path) != nullptr;
}

void DeleteRegistryKey(const std::string& path) {
  std::vector<std::string> names = detail::PathNames(path);
  if (names.empty()) return;
  std::string last = names.back();
  names.pop_back();
  std::lock_guard guard(detail::Lock());
  std::shared_ptr<detail::RegistryNode> parent = detail::MachineRootLocked();
  for (const std::string& name : names) {
    auto found = parent->subkeys.find(name);
    if (found == parent->subkeys.end()) return;
    parent = found->second;
  }
  parent->subkeys.erase(last);
}

void SetRegistryValue(const std::string& path, const std::string& name, DWORD type, const std::vector<BYTE>& data) {
  std::lock_guard guard(detail::Lock());
  detail::CreateLocked(path)->values[detail::Lower(name)] = detail::RegistryValue{type, data};
}

std::optional<RegistryData> GetRegistryValue(const std::string& path, const std::string& name) {
  std::lock_guard guard(detail::Lock());
  auto node = detail::FindLocked(detail::MachineRootLocked(), path);
  if (!node) return std::nullopt;
  auto found = node->values.find(detail::Lower(name));
  if (found == node->values.end()) return std::nullopt;
  return RegistryData{found->second.type, found->second.data};
}

void SetRegistryKeyAccess(const std::string& path, REGSAM allowed) {
  std::lock_guard guard(detail::Lock());
  detail::CreateLocked(path)->allowed = allowed;
}

std::vector<BYTE> MultiStringValue(const std::vector<std::string>& entries) {
  std::vector<BYTE> bytes;
  for (const std::string& entry : entries) {
    bytes.insert(bytes.end(), entry.begin(), entry.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

}  // namespace winsim

using namespace winsim::detail;

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  REGSAM parentRights = 0;
  std::shared_ptr<RegistryNode> parent = NodeOf(hKey, &parentRights);
  if (!parent) return ERROR_INVALID_HANDLE;
  DWORD error = 0;
  if (ConsumeFault("RegOpenKeyExA", &error)) return static_cast<LONG>(error);
  std::string path = lpSubKey ? lpSubKey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  std::shared_ptr<RegistryNode> node;
  REGSAM allowed = 0;
  {
    std::lock_guard guard(Lock());
    node = FindLocked(parent, path);
    if (node) allowed = node->allowed;
  }
  if (!node) return ERROR_FILE_NOT_FOUND;
  // The key's own security decides, not the rights of the handle it was opened through.
  REGSAM granted = MapAccess(samDesired, allowed);
  if (granted & ~allowed) return ERROR_ACCESS_DENIED;
  *phkResult = NewKeyHandle(std::move(node), granted);
  return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<RegistryNode> node;
  if (LONG result = NodeForValues(hKey, "RegQueryValueExA", KEY_QUERY_VALUE, &node); result != ERROR_SUCCESS) return result;
  RegistryValue value;
  {
    std::lock_guard guard(Lock());
    auto found = node->values.find(ValueKey(lpValueName));
    if (found == node->values.end()) {
      // What Windows' registry layer leaves for a missing value (seen under Wine; nothing
      // documented says otherwise): no type, and no size when only the size was asked.
      if (lpType) *lpType = REG_NONE;
      if (lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
      return ERROR_FILE_NOT_FOUND;
    }
    value = found->second;
  }
  if (lpType) *lpType = value.type;
  return CopyValue(value, lpData, lpcbData);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
  std::shared_ptr<RegistryNode> node;
  if (LONG result = NodeForValues(hKey, "RegSetValueExA", KEY_SET_VALUE, &node); result != ERROR_SUCCESS) return result;
  // A string whose size leaves out its terminator is stored with it when the byte after the
  // given size is that terminator: Windows reads that one byte past the size to decide.
  DWORD size = cbData;
  if (IsStringType(dwType) && size != 0 && lpData[size - 1] != 0 && lpData[size] == 0) ++size;
  RegistryValue value{dwType, std::vector<BYTE>(lpData, lpData + size)};
  std::lock_guard guard(Lock());
  node->values[ValueKey(lpValueName)] = std::move(value);
  return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  std::shared_ptr<RegistryNode> node;
  if (LONG result = NodeForValues(hKey, "RegDeleteValueA", KEY_SET_VALUE, &node); result != ERROR_SUCCESS) return result;
  std::lock_guard guard(Lock());
  return node->values.erase(ValueKey(lpValueName)) != 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  // An injected failure is reported after a valid key is closed: closing a valid handle
  // always releases it, whatever the call then reports.
  DWORD error = 0;
  const bool failed = ConsumeFault("RegCloseKey", &error);
  LONG result = ERROR_SUCCESS;
  bool predefined = false;
  {
    std::lock_guard guard(Lock());
    predefined = State().byHandle.count(reinterpret_cast<uintptr_t>(hKey)) != 0;  // predefined keys stay open
  }
  if (!predefined && !RemoveKeyHandle(hKey)) result = ERROR_INVALID_HANDLE;
  return failed ? static_cast<LONG>(error) : result;
}

}  // extern "C"
