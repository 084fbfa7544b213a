// The machine's device interfaces as the areas that act on them see them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "winsim/machine.h"

namespace winsim::detail {

// One device interface of the machine, present or not. Areas keep shared pointers to it.
struct InterfaceRecord {
  std::string path;
  GUID category = GUID_NULL;
  std::optional<std::vector<BYTE>> friendlyName;
  DWORD friendlyNameType = REG_SZ;
  bool hasKey = true;
  FilterDesc filter;
  DeviceId device = 0;
  std::string instanceId;
  // Its path in upper case: SetupDiGetClassDevsA lists interfaces by it (the registry's key
  // order). Made once, when it is plugged.
  std::string listingName;
  // Its path in lower case: what the driver's per-interface state is kept by. Made once too,
  // since every request on its files looks the state up.
  std::string lowerPath;
  bool present = false;  // guarded by Lock()
};

// Finds an interface by path without regard to letter case, present or not.
std::shared_ptr<InterfaceRecord> FindInterface(const std::string& path);
// The present interfaces of a category in the order SetupDiGetClassDevsA lists them: by name
// without regard to case, interfaces of one name in the order they arrived.
std::vector<std::shared_ptr<InterfaceRecord>> PresentInterfaces(const GUID& category);
// Every interface of a category the machine has seen, present or not, listed by name, those of
// one name in plug order.
std::vector<std::shared_ptr<InterfaceRecord>> KnownInterfaces(const GUID& category);
bool IsPresent(const InterfaceRecord& record);

// Told, without the lock held, of every interface that arrives or leaves; each keeps what it
// models in step: windows registered for notifications, the driver's open files, device records
// (machine/device_records.h).
void AnnounceInterfaceToWindows(const InterfaceRecord& record, bool arrived);
void EndRequestsOfRemovedInterface(const InterfaceRecord& record);

}  // namespace winsim::detail
