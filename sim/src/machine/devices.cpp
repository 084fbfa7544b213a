// The machine's devices and their interfaces: plugging, unplugging and lookup by path.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_map>

#include "machine/devices.h"
#include "machine/device_records.h"
#include "runtime/reset.h"
#include "runtime/text.h"
#include "winsim/control.h"

namespace winsim {
namespace detail {
namespace {

// A place in a listing: the category, then the name, then the order among equal names.
struct ListingKey {
  GUID category;
  std::string name;
  uint64_t order;
  bool operator<(const ListingKey& other) const {
    if (int byCategory = std::memcmp(&category, &other.category, sizeof category); byCategory != 0)
      return byCategory < 0;
    if (int byName = name.compare(other.name); byName != 0) return byName < 0;
    return order < other.order;
  }
};
using Listing = std::map<ListingKey, std::shared_ptr<InterfaceRecord>>;

// Indexed so that no lookup grows with the number of interfaces: a scale test of a thousand
// interfaces measures the deliverables, not the simulator.
struct Devices {
  std::map<DeviceId, std::vector<std::shared_ptr<InterfaceRecord>>> byId;
  // Lower-case path -> the first interface plugged with that path.
  std::unordered_map<std::string, std::shared_ptr<InterfaceRecord>> byPath;
  // The present interfaces, listed in arrival order among equal names, and each one's
  // arrival number; every interface ever plugged, in plug order among equal names.
  Listing present;
  std::unordered_map<const InterfaceRecord*, uint64_t> arrivalOf;
  Listing known;
  uint64_t nextArrival = 0;
  uint64_t nextPlugOrder = 0;
  DeviceId nextId = 1;
};

AreaState<Devices> State;

void Announce(const std::vector<std::shared_ptr<InterfaceRecord>>& records, bool arrived) {
  for (const auto& record : records) {
    AnnounceInterfaceToWindows(*record, arrived);
    if (!arrived) EndRequestsOfRemovedInterface(*record);
    FollowInterfacePresence(*record, arrived);
  }
}

// "{6994ad04-93ef-11d0-a3cc-00a0c9223196}", lower case, as in interface paths.
std::string GuidString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// An interface that arrives goes to the end of the arrival order; one that leaves goes out of it.
void MoveInArrivalOrderLocked(const std::shared_ptr<InterfaceRecord>& record, bool present) {
  Devices& state = State();
  if (auto found = state.arrivalOf.find(record.get()); found != state.arrivalOf.end()) {
    state.present.erase({record->category, record->listingName, found->second});
    state.arrivalOf.erase(found);
  }
  if (!present) return;
  uint64_t arrival = state.nextArrival++;
  state.present.emplace(ListingKey{record->category, record->listingName, arrival}, record);
  state.arrivalOf.emplace(record.get(), arrival);
}

// Marks a device's interfaces present or absent; returns them when the state changed.
std::vector<std::shared_ptr<InterfaceRecord>> SetPresent(DeviceId device, bool present) {
  std::lock_guard guard(Lock());
  auto found = State().byId.find(device);
  if (found == State().byId.end()) return {};
  std::vector<std::shared_ptr<InterfaceRecord>> changed;
  for (auto& record : found->second) {
    if (record->present == present) continue;
    record->present = present;
    MoveInArrivalOrderLocked(record, present);
    changed.push_back(record);
  }
  return changed;
}

std::string MakePath(const std::string& instanceId, const GUID& category, const std::string& reference) {
  // Appended piece by piece: GCC 12 at -O3 misreads chains of operator+ (-Wrestrict).
  std::string path = "\\\\?\\";
  path += instanceId;
  std::replace(path.begin() + 4, path.end(), '\\', '#');
  path = Lower(std::move(path));
  path += '#';
  path += GuidString(category);
  if (!reference.empty()) {
    path += '\\';
    path += Lower(reference);
  }
  return path;
}

// The interfaces of one category in a listing, in its order; call with Lock() held.
std::vector<std::shared_ptr<InterfaceRecord>> ListedLocked(const Listing& listing, const GUID& category) {
  std::vector<std::shared_ptr<InterfaceRecord>> listed;
  for (auto it = listing.lower_bound({category, {}, 0});
       it != listing.end() && IsEqualGUID(it->first.category, category); ++it)
    listed.push_back(it->second);
  return listed;
}

// Windows lists a class's interfaces in the order of their registry key names, which sort
// without regard to case (compared in upper case): not in the order the devices arrived.
std::string ListingName(const std::string& path) {
  std::string name = path;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

std::shared_ptr<InterfaceRecord> FindInterface(const std::string& path) {
  std::string key = Lower(path);
  std::lock_guard guard(Lock());
  auto found = State().byPath.find(key);
  return found == State().byPath.end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<InterfaceRecord>> PresentInterfaces(const GUID& category) {
  std::lock_guard guard(Lock());
  return ListedLocked(State().present, category);
}

std::vector<std::shared_ptr<InterfaceRecord>> KnownInterfaces(const GUID& category) {
  std::lock_guard guard(Lock());
  return ListedLocked(State().known, category);
}

bool IsPresent(const InterfaceRecord& record) {
  std::lock_guard guard(Lock());
  return record.present;
}

}  // namespace detail

DeviceId PlugDevice(const DeviceDesc& device) {
  using namespace detail;
  DeviceId id;
  {
    std::lock_guard guard(Lock());
    id = State().nextId++;
    auto& records = State().byId[id];
    for (const InterfaceDesc& desc : device.interfaces) {
      auto record = std::make_shared<InterfaceRecord>();
      record->path = desc.pathOverride.empty() ? MakePath(device.instanceId, desc.category, desc.reference)
                                               : desc.pathOverride;
      record->category = desc.category;
      record->friendlyName = desc.friendlyName;
      record->friendlyNameType = desc.friendlyNameType;
      record->hasKey = desc.hasKey;
      record->filter = desc.filter;
      record->device = id;
      record->instanceId = device.instanceId;
      record->listingName = ListingName(record->path);
      record->lowerPath = Lower(record->path);
      records.push_back(record);
      State().known.emplace(ListingKey{record->category, record->listingName, State().nextPlugOrder++}, record);
      State().byPath.emplace(record->lowerPath, record);  // a later twin path does not replace it
    }
  }
  Announce(SetPresent(id, true), true);
  return id;
}

void UnplugDevice(DeviceId device) { detail::Announce(detail::SetPresent(device, false), false); }

void ReplugDevice(DeviceId device) { detail::Announce(detail::SetPresent(device, true), true); }

std::string InterfacePath(DeviceId device, size_t interfaceIndex) {
  std::lock_guard guard(detail::Lock());
  auto found = detail::State().byId.find(device);
  if (found == detail::State().byId.end() || interfaceIndex >= found->second.size()) return {};
  return found->second[interfaceIndex]->path;
}

}  // namespace winsim
