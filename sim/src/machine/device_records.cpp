// The machine's device records: present or only remembered, their properties and installed
// drivers, in the order Windows lists them.
#include "machine/device_records.h"

#include <algorithm>
#include <cstring>

#include "runtime/text.h"
#include "winsim/control_registry.h"

namespace winsim::detail {
namespace {

constexpr DEVINST kFirstDevInst = 0x1000;

// A record's place in the order Windows lists them: its instance id in lower case, then the
// order it was added in.
using ListingKey = std::pair<std::string, DEVINST>;

struct Records {
  std::map<DEVINST, std::shared_ptr<DeviceRecord>> byDevInst;
  // Every record in listing order: the lists and the plugging of a device of the same instance
  // id find them without a sort or a walk over all.
  std::map<ListingKey, std::shared_ptr<DeviceRecord>> listing;
  DEVINST next = kFirstDevInst;
};

AreaState<Records> State;

void InsertLocked(const std::shared_ptr<DeviceRecord>& record) {
  State().byDevInst[record->devInst] = record;
  State().listing[{Lower(record->instanceId), record->devInst}] = record;
}

RegistryValue DwordValue(DWORD value) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
  return RegistryValue{REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof value)};
}

std::shared_ptr<DeviceRecord> LookupRecordLocked(DEVINST devInst) {
  auto found = State().byDevInst.find(devInst);
  return found == State().byDevInst.end() ? nullptr : found->second;
}

}  // namespace

// Records follow the plugging of the machine's devices of the same instance id.
void FollowInterfacePresence(const InterfaceRecord& device, bool arrived) {
  std::lock_guard guard(Lock());
  const std::string id = Lower(device.instanceId);
  auto& listing = State().listing;
  for (auto it = listing.lower_bound({id, 0}); it != listing.end() && it->first.first == id; ++it)
    it->second->present = arrived;
}

std::shared_ptr<DeviceRecord> FindDeviceRecord(DEVINST devInst) {
  std::lock_guard guard(Lock());
  return LookupRecordLocked(devInst);
}

std::vector<std::shared_ptr<DeviceRecord>> AllDeviceRecords() {
  std::lock_guard guard(Lock());
  std::vector<std::shared_ptr<DeviceRecord>> records;
  records.reserve(State().listing.size());
  for (const auto& [key, record] : State().listing) records.push_back(record);
  return records;
}

std::vector<std::string> MultiSzStringsLocked(const DeviceRecord& record, DWORD property) {
  std::vector<std::string> strings;
  auto found = record.properties.find(property);
  if (found == record.properties.end()) return strings;
  const std::vector<BYTE>& data = found->second.data;
  std::string current;
  for (BYTE byte : data) {
    if (byte != 0) {
      current.push_back(static_cast<char>(byte));
    } else if (current.empty()) {
      break;  // the empty string ends the list
    } else {
      strings.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) strings.push_back(current);  // a last string stored without its NUL
  return strings;
}

void RestoreDeviceRecords(const std::vector<DeviceRecord>& records) {
  std::lock_guard guard(Lock());
  State() = Records{};
  for (const DeviceRecord& record : records) {
    InsertLocked(std::make_shared<DeviceRecord>(record));
    State().next = std::max(State().next, record.devInst + 1);
  }
}

}  // namespace winsim::detail

namespace winsim {

using namespace detail;

DEVINST AddDeviceRecord(const DeviceRecordDesc& desc) {
  auto record = std::make_shared<DeviceRecord>();
  record->instanceId = desc.instanceId;
  record->classGuid = desc.classGuid;
  record->present = desc.present;
  if (!desc.hardwareIds.empty())
    record->properties[SPDRP_HARDWAREID] = {REG_MULTI_SZ, MultiStringValue(desc.hardwareIds)};
  if (!desc.compatibleIds.empty())
    record->properties[SPDRP_COMPATIBLEIDS] = {REG_MULTI_SZ, MultiStringValue(desc.compatibleIds)};
  if (desc.configFlags) record->properties[SPDRP_CONFIGFLAGS] = DwordValue(*desc.configFlags);
  if (!desc.description.empty())
    record->properties[SPDRP_DEVICEDESC] = {
        REG_SZ, std::vector<BYTE>(desc.description.c_str(), desc.description.c_str() + desc.description.size() + 1)};
  std::lock_guard guard(Lock());
  record->devInst = State().next++;
  InsertLocked(record);
  return record->devInst;
}

void SetDeviceRecordPresent(DEVINST devInst, bool present) {
  std::lock_guard guard(Lock());
  if (auto record = LookupRecordLocked(devInst)) record->present = present;
}

void SetDeviceRecordProperty(DEVINST devInst, DWORD property, DWORD type, const std::vector<BYTE>& data) {
  std::lock_guard guard(Lock());
  auto record = LookupRecordLocked(devInst);
  if (!record) return;
  if (type == REG_NONE && data.empty()) {
    record->properties.erase(property);
  } else {
    record->properties[property] = {type, data};
  }
}

std::optional<DeviceRecordState> ReadDeviceRecord(DEVINST devInst) {
  std::lock_guard guard(Lock());
  auto record = LookupRecordLocked(devInst);
  if (!record) return std::nullopt;
  DeviceRecordState state;
  state.instanceId = record->instanceId;
  state.present = record->present;
  state.hardwareIds = MultiSzStringsLocked(*record, SPDRP_HARDWAREID);
  auto flags = record->properties.find(SPDRP_CONFIGFLAGS);
  if (flags != record->properties.end() && flags->second.data.size() == sizeof(DWORD)) {
    DWORD value;
    std::memcpy(&value, flags->second.data.data(), sizeof value);
    state.configFlags = value;
  }
  state.installedInf = record->installedInf;
  state.installedFromInf = record->installedFromInf;
  state.installSection = record->installSection;
  state.installCount = record->installCount;
  return state;
}

}  // namespace winsim
