// Registry reads: open keys hold their values; RegQueryValueExA follows the documented
// size rules, including ERROR_MORE_DATA with the needed size.
#include <cstring>

#include "internal.h"

namespace winsim::detail {

HKEY OpenKeyHandle(std::map<std::string, RegistryValue> values) {
  auto key = std::make_shared<RegistryKey>();
  key->values = std::move(values);
  return static_cast<HKEY>(InsertHandle(std::move(key)));
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
  auto key = LookupAs<RegistryKey>(hKey);
  if (!key) return ERROR_INVALID_HANDLE;
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
  DWORD error = 0;
  if (ConsumeFault("RegQueryValueExA", &error)) return static_cast<LONG>(error);

  RegistryValue value;
  {
    std::lock_guard guard(Lock());
    auto found = key->values.find(Lower(lpValueName ? lpValueName : ""));
    if (found == key->values.end()) return ERROR_FILE_NOT_FOUND;
    value = found->second;
  }
  if (lpType) *lpType = value.type;
  DWORD size = static_cast<DWORD>(value.data.size());
  if (lpcbData == nullptr) return ERROR_SUCCESS;
  if (lpData == nullptr) {
    *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    // The buffer's contents are undefined after ERROR_MORE_DATA; fill it with the start of
    // the value, unterminated, so that code relying on it shows.
    std::memcpy(lpData, value.data.data(), *lpcbData);
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  // The bytes are returned as stored: no terminator is added to a string stored without one.
  std::memcpy(lpData, value.data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey) {
  if (DWORD error = 0; ConsumeFault("RegCloseKey", &error)) return static_cast<LONG>(error);
  auto key = LookupAs<RegistryKey>(hKey);
  if (!key) return ERROR_INVALID_HANDLE;
  RemoveHandle(hKey);
  return ERROR_SUCCESS;
}

}  // extern "C"
