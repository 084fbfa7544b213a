// Device records and the device information sets that list them: SetupDiGetClassDevsA for
// devices (dispatched here from setupapi.cpp), SetupDiEnumDeviceInfo, the device registry
// properties and CM_Get_DevNode_Status.
#include "machine/device_records.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "machine/install_state.h"
#include "winsim/sdk/cfgmgr32.h"
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

// Never destroyed: a process handing its machine back at exit reads it after static destructors.
Records& State() {
  static Records* state = new Records;
  return *state;
}

ResetRegistration resetRecords([] {
  std::lock_guard guard(Lock());
  State() = Records{};
});

void InsertLocked(const std::shared_ptr<DeviceRecord>& record) {
  State().byDevInst[record->devInst] = record;
  State().listing[{Lower(record->instanceId), record->devInst}] = record;
}

// Sets are user-mode structures on Windows; here they live in the handle table so that a set
// left undestroyed shows as a leak. Members are fixed when the set is made; they are also
// kept by what SP_DEVINFO_DATA::Reserved carries, so that naming a member needs no walk.
struct DeviceRecordSet : KernelObject {
  bool ClosableByCloseHandle() const override { return false; }
  std::vector<std::shared_ptr<DeviceRecord>> members;
  std::unordered_map<DEVINST, std::shared_ptr<DeviceRecord>> byDevInst;
  void Add(const std::shared_ptr<DeviceRecord>& record) {
    byDevInst.emplace(record->devInst, record);
    members.push_back(record);
  }
};

// Records follow the plugging of the machine's devices of the same instance id.
struct PresenceTracking {
  PresenceTracking() {
    OnInterfaceChange([](const InterfaceRecord& device, bool arrived) {
      std::lock_guard guard(Lock());
      const std::string id = Lower(device.instanceId);
      auto& listing = State().listing;
      for (auto it = listing.lower_bound({id, 0}); it != listing.end() && it->first.first == id; ++it)
        it->second->present = arrived;
    });
  }
} presenceTracking;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::string EnumeratorOf(const std::string& instanceId) { return instanceId.substr(0, instanceId.find('\\')); }

RegistryValue DwordValue(DWORD value) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
  return RegistryValue{REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof value)};
}

DWORD TypeOfProperty(DWORD property) {
  switch (property) {
    case SPDRP_HARDWAREID:
    case SPDRP_COMPATIBLEIDS:
      return REG_MULTI_SZ;
    case SPDRP_CONFIGFLAGS:
      return REG_DWORD;
    default:
      return REG_SZ;
  }
}

bool IsWritableProperty(DWORD property) {
  switch (property) {
    case SPDRP_DEVICEDESC:
    case SPDRP_HARDWAREID:
    case SPDRP_COMPATIBLEIDS:
    case SPDRP_SERVICE:
    case SPDRP_CONFIGFLAGS:
    case SPDRP_MFG:
    case SPDRP_FRIENDLYNAME:
      return true;
    default:
      return false;
  }
}

void FillDevInfoData(PSP_DEVINFO_DATA data, const DeviceRecord& record) {
  data->ClassGuid = record.classGuid;
  data->DevInst = record.devInst;
  data->Reserved = record.devInst;  // names the member within its set
}

std::shared_ptr<DeviceRecord> LookupRecordLocked(DEVINST devInst) {
  auto found = State().byDevInst.find(devInst);
  return found == State().byDevInst.end() ? nullptr : found->second;
}

}  // namespace

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

std::shared_ptr<DeviceRecord> DeviceRecordOfSet(HDEVINFO set, const SP_DEVINFO_DATA* data, DWORD* error) {
  auto records = set == INVALID_HANDLE_VALUE ? nullptr : LookupAs<DeviceRecordSet>(static_cast<HANDLE>(set));
  if (!records) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (data == nullptr) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
    *error = ERROR_INVALID_USER_BUFFER;
    return nullptr;
  }
  auto found = records->byDevInst.find(static_cast<DEVINST>(data->Reserved));
  // Reserved is pointer-wide: a value beyond a DEVINST's range names no member.
  if (found == records->byDevInst.end() || found->second->devInst != data->Reserved) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  return found->second;
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

HDEVINFO NewDeviceRecordSet(const GUID* classGuid, PCSTR enumerator, DWORD flags) {
  if (classGuid == nullptr && !(flags & DIGCF_ALLCLASSES)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto set = std::make_shared<DeviceRecordSet>();
  const std::string wantedEnumerator = enumerator ? Lower(enumerator) : std::string();
  for (const auto& record : AllDeviceRecords()) {
    std::lock_guard guard(Lock());
    if (!(flags & DIGCF_ALLCLASSES) && !IsEqualGUID(record->classGuid, *classGuid)) continue;
    if (enumerator && Lower(EnumeratorOf(record->instanceId)) != wantedEnumerator) continue;
    if ((flags & DIGCF_PRESENT) && !record->present) continue;
    set->Add(record);
  }
  return InsertHandle(std::move(set));
}

bool DestroyDeviceRecordSet(HDEVINFO set) {
  if (set == INVALID_HANDLE_VALUE || !LookupAs<DeviceRecordSet>(static_cast<HANDLE>(set))) return false;
  RemoveHandle(static_cast<HANDLE>(set));
  return true;
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

std::vector<DEVINST> DeviceRecordHandles() {
  std::vector<DEVINST> handles;
  for (const auto& record : AllDeviceRecords()) handles.push_back(record->devInst);
  return handles;
}


}  // namespace winsim

using namespace winsim::detail;

extern "C" {

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  DWORD error = 0;
  if (ConsumeFault("SetupDiEnumDeviceInfo", &error)) return Fail(error);
  auto set = DeviceInfoSet == INVALID_HANDLE_VALUE ? nullptr
                                                   : LookupAs<DeviceRecordSet>(static_cast<HANDLE>(DeviceInfoSet));
  if (!set) {
    // A set of device interfaces has no device records of this area: it lists none.
    auto other = DeviceInfoSet == INVALID_HANDLE_VALUE ? nullptr : LookupHandle(static_cast<HANDLE>(DeviceInfoSet));
    return Fail(other && !other->ClosableByCloseHandle() ? ERROR_NO_MORE_ITEMS : ERROR_INVALID_HANDLE);
  }
  if (DeviceInfoData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (MemberIndex >= set->members.size()) return Fail(ERROR_NO_MORE_ITEMS);
  std::lock_guard guard(Lock());
  FillDevInfoData(DeviceInfoData, *set->members[MemberIndex]);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  DWORD error = 0;
  if (ConsumeFault("SetupDiGetDeviceRegistryPropertyA", &error)) return Fail(error);
  auto record = DeviceRecordOfSet(DeviceInfoSet, DeviceInfoData, &error);
  if (!record) return Fail(error);
  if (Property >= SPDRP_MAXIMUM_PROPERTY) return Fail(ERROR_INVALID_REG_PROPERTY);
  if (PropertyBuffer == nullptr && PropertyBufferSize != 0) return Fail(ERROR_INVALID_PARAMETER);
  RegistryValue value;
  {
    std::lock_guard guard(Lock());
    auto found = record->properties.find(Property);
    if (found == record->properties.end()) return Fail(ERROR_INVALID_DATA);
    value = found->second;
  }
  if (PropertyRegDataType) *PropertyRegDataType = value.type;
  if (RequiredSize) *RequiredSize = static_cast<DWORD>(value.data.size());
  // Too small a buffer is left as it was.
  if (PropertyBufferSize < value.data.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (!value.data.empty()) std::memcpy(PropertyBuffer, value.data.data(), value.data.size());
  return TRUE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer, DWORD PropertyBufferSize) {
  DWORD error = 0;
  if (ConsumeFault("SetupDiSetDeviceRegistryPropertyA", &error)) return Fail(error);
  auto record = DeviceRecordOfSet(DeviceInfoSet, DeviceInfoData, &error);
  if (!record) return Fail(error);
  if (!IsWritableProperty(Property)) return Fail(ERROR_INVALID_REG_PROPERTY);
  if (PropertyBuffer == nullptr && PropertyBufferSize != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (Property == SPDRP_CONFIGFLAGS && PropertyBuffer != nullptr && PropertyBufferSize != sizeof(DWORD))
    return Fail(ERROR_INVALID_DATA);
  // Device records live under the machine's Enum key, which only administrators may change.
  if (!CallerIsAdministrator()) return Fail(ERROR_ACCESS_DENIED);
  std::lock_guard guard(Lock());
  if (PropertyBuffer == nullptr) {
    record->properties.erase(Property);
  } else {
    record->properties[Property] = {TypeOfProperty(Property),
                                    std::vector<BYTE>(PropertyBuffer, PropertyBuffer + PropertyBufferSize)};
  }
  return TRUE;
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst, ULONG ulFlags) {
  DWORD error = 0;
  if (ConsumeFault("CM_Get_DevNode_Status", &error)) return error;  // the injected CONFIGRET
  if (pulStatus == nullptr || pulProblemNumber == nullptr) return CR_INVALID_POINTER;
  if (ulFlags != 0) return CR_INVALID_FLAG;
  auto record = FindDeviceRecord(dnDevInst);
  if (!record) return CR_INVALID_DEVNODE;
  std::lock_guard guard(Lock());
  if (!record->present) return CR_NO_SUCH_DEVNODE;  // remembered, but not in the live device tree
  *pulStatus = DN_DRIVER_LOADED | DN_STARTED;
  *pulProblemNumber = 0;
  return CR_SUCCESS;
}

}  // extern "C"
