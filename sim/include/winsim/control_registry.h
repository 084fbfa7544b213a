// The simulated machine's registry as tests see it: keys and values under
// HKEY_LOCAL_MACHINE, set and read byte for byte. Part of the control API, not of Windows.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace winsim {

// Key paths are relative to HKEY_LOCAL_MACHINE ("SYSTEM\\CurrentControlSet\\Control"), with
// backslashes, compared without regard to case, as Windows compares key and value names.
// Reset leaves the keys every Windows machine has that the deliverables use:
// SYSTEM\CurrentControlSet\Control\CoDeviceInstallers.
void CreateRegistryKey(const std::string& path);
bool RegistryKeyExists(const std::string& path);
// Removes the key with its subkeys and values; handles open on it keep working on the
// removed key, whose changes then reach nothing.
void DeleteRegistryKey(const std::string& path);

// Stores exactly these bytes (no terminator is added), creating the key when needed.
void SetRegistryValue(const std::string& path, const std::string& name, DWORD type, const std::vector<BYTE>& data);
struct RegistryData {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};
std::optional<RegistryData> GetRegistryValue(const std::string& path, const std::string& name);

// The rights a caller may be granted on the key (KEY_ALL_ACCESS unless set): opening it with
// more fails with ERROR_ACCESS_DENIED, as for a user who is not an administrator.
void SetRegistryKeyAccess(const std::string& path, REGSAM allowed);

// A REG_MULTI_SZ value: each entry with its terminating zero, then the list's final zero.
std::vector<BYTE> MultiStringValue(const std::vector<std::string>& entries);

}  // namespace winsim
