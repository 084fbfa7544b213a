// Registry values and keys as the areas that hand out keys of their own see them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "winsim/sdk/winreg.h"

namespace winsim::detail {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// A key of its own, outside the machine's registry tree, holding these values (names in
// lower case): the device-interface keys. Closed with RegCloseKey like any key.
HKEY OpenKeyHandle(std::map<std::string, RegistryValue> values);

}  // namespace winsim::detail
