// Device information sets of device records: SetupDiGetClassDevsA for devices (dispatched here
// from device_info_sets.cpp), SetupDiEnumDeviceInfo and the device registry properties.
#include "setupapi/device_record_sets.h"

#include <cstring>
#include <unordered_map>

#include "machine/install_state.h"
#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "runtime/last_error.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

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

std::string EnumeratorOf(const std::string& instanceId) { return instanceId.substr(0, instanceId.find('\\')); }

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

}  // namespace

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

}  // namespace winsim::detail

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

}  // extern "C"
