// SetupAPI device information sets and device interfaces.
#include <cstring>
#include <unordered_map>

#include "setupapi/device_record_sets.h"
#include "advapi32/registry.h"
#include "machine/devices.h"
#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "runtime/last_error.h"
#include "runtime/reset.h"

namespace winsim::detail {
namespace {

// GUID_DEVCLASS_MEDIA: the setup class of the machine's audio devices.
constexpr GUID kMediaClass = {0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The interfaces of a set, each class's in the order they joined it. Found by what an
// SP_DEVICE_INTERFACE_DATA carries and by index within a class without a walk, so that an
// enumeration costs the same per interface however many the set holds.
class InterfaceMembers {
 public:
  // False when the interface is a member already.
  bool Add(const std::shared_ptr<InterfaceRecord>& record) {
    if (!m_byReserved.emplace(Reserved(*record), record).second) return false;
    ClassList(record->category).push_back(record);
    return true;
  }
  std::shared_ptr<InterfaceRecord> Find(ULONG_PTR reserved) const {
    auto found = m_byReserved.find(reserved);
    return found == m_byReserved.end() ? nullptr : found->second;
  }
  // The member at `index` among those of a class; null beyond the last.
  std::shared_ptr<InterfaceRecord> OfClass(const GUID& category, DWORD index) const {
    for (const auto& [guid, members] : m_byClass)
      if (IsEqualGUID(guid, category)) return index < members.size() ? members[index] : nullptr;
    return nullptr;
  }
  // What SP_DEVICE_INTERFACE_DATA::Reserved holds for a member.
  static ULONG_PTR Reserved(const InterfaceRecord& record) { return reinterpret_cast<ULONG_PTR>(&record); }

 private:
  std::vector<std::shared_ptr<InterfaceRecord>>& ClassList(const GUID& category) {
    for (auto& [guid, members] : m_byClass)
      if (IsEqualGUID(guid, category)) return members;
    return m_byClass.emplace_back(category, std::vector<std::shared_ptr<InterfaceRecord>>()).second;
  }

  std::unordered_map<ULONG_PTR, std::shared_ptr<InterfaceRecord>> m_byReserved;
  std::vector<std::pair<GUID, std::vector<std::shared_ptr<InterfaceRecord>>>> m_byClass;  // a set has few classes
};

// Sets are user-mode structures on Windows; they live in the handle table here so that a
// set left undestroyed shows as a leak. Only SetupDiDestroyDeviceInfoList frees one.
struct DeviceInfoSet : KernelObject {
  bool ClosableByCloseHandle() const override { return false; }
  InterfaceMembers members;  // guarded by Lock()
};

std::shared_ptr<DeviceInfoSet> LookupSet(HDEVINFO set) {
  if (set == INVALID_HANDLE_VALUE) return nullptr;
  return LookupAs<DeviceInfoSet>(static_cast<HANDLE>(set));
}

bool ValidSize(const void* data, DWORD cbSize, DWORD expected) { return data == nullptr || cbSize == expected; }

void FillInterfaceData(PSP_DEVICE_INTERFACE_DATA data, const InterfaceRecord& record) {
  data->InterfaceClassGuid = record.category;
  data->Flags = IsPresent(record) ? SPINT_ACTIVE : 0;
  data->Reserved = InterfaceMembers::Reserved(record);
}

// The set's member that an SP_DEVICE_INTERFACE_DATA names, or null.
std::shared_ptr<InterfaceRecord> MemberOf(DeviceInfoSet& set, PSP_DEVICE_INTERFACE_DATA data) {
  std::lock_guard guard(Lock());
  return set.members.Find(data->Reserved);
}

void FillDevInfoData(PSP_DEVINFO_DATA data, const InterfaceRecord& record) {
  data->ClassGuid = kMediaClass;
  data->DevInst = static_cast<DWORD>(0x100 + record.device);
  data->Reserved = static_cast<ULONG_PTR>(record.device);
}

HDEVINFO NewSet(const std::vector<std::shared_ptr<InterfaceRecord>>& interfaces) {
  auto set = std::make_shared<DeviceInfoSet>();
  for (const auto& record : interfaces) set->members.Add(record);
  return InsertHandle(std::move(set));
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND, DWORD Flags) {
  DWORD error = 0;
  if (ConsumeFault("SetupDiGetClassDevsA", &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  if (!(Flags & DIGCF_DEVICEINTERFACE)) return NewDeviceRecordSet(ClassGuid, Enumerator, Flags);
  if (ClassGuid == nullptr) {  // sets of every interface class are not modelled
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return NewSet((Flags & DIGCF_PRESENT) ? PresentInterfaces(*ClassGuid) : KnownInterfaces(*ClassGuid));
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID*, HWND) {
  DWORD error = 0;
  if (ConsumeFault("SetupDiCreateDeviceInfoList", &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return NewSet({});
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (FailsByFault("SetupDiDestroyDeviceInfoList")) return FALSE;
  if (DestroyDeviceRecordSet(DeviceInfoSet)) return TRUE;
  if (!LookupSet(DeviceInfoSet)) return Fail(ERROR_INVALID_HANDLE);
  RemoveHandle(static_cast<HANDLE>(DeviceInfoSet));
  SetLastError(ERROR_SUCCESS);  // SetupAPI reports its success in the last error too
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  if (FailsByFault("SetupDiEnumDeviceInterfaces")) return FALSE;
  auto set = LookupSet(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE);
  if (DeviceInterfaceData == nullptr || InterfaceClassGuid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (DeviceInfoData != nullptr) return Fail(ERROR_NO_MORE_ITEMS);  // per-device filtering is not modelled
  std::shared_ptr<InterfaceRecord> member;
  {
    std::lock_guard guard(Lock());
    member = set->members.OfClass(*InterfaceClassGuid, MemberIndex);
  }
  if (!member) return Fail(ERROR_NO_MORE_ITEMS);
  FillInterfaceData(DeviceInterfaceData, *member);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData) {
  auto set = LookupSet(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE);
  if (DeviceInterfaceData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
  auto member = MemberOf(*set, DeviceInterfaceData);
  if (!member) return Fail(ERROR_INVALID_PARAMETER);
  DWORD error = 0;
  if (ConsumeFault("SetupDiGetDeviceInterfaceDetailA", &error)) return Fail(error);

  const DWORD pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const DWORD required = pathOffset + static_cast<DWORD>(member->path.size()) + 1;
  if (DeviceInterfaceDetailData == nullptr) {
    if (DeviceInterfaceDetailDataSize != 0) return Fail(ERROR_INVALID_USER_BUFFER);
  } else if (DeviceInterfaceDetailDataSize < pathOffset + 1 ||
             DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (!ValidSize(DeviceInfoData, DeviceInfoData ? DeviceInfoData->cbSize : 0, sizeof(SP_DEVINFO_DATA)))
    return Fail(ERROR_INVALID_USER_BUFFER);
  if (RequiredSize) *RequiredSize = required;
  // The device's data is filled also when the path does not fit, as on Windows.
  if (DeviceInfoData) FillDevInfoData(DeviceInfoData, *member);
  if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < required)
    return Fail(ERROR_INSUFFICIENT_BUFFER);

  std::memcpy(DeviceInterfaceDetailData->DevicePath, member->path.c_str(), member->path.size() + 1);
  return TRUE;
}

BOOL WINAPI SetupDiOpenDeviceInterfaceA(HDEVINFO DeviceInfoSet, PCSTR DevicePath, DWORD,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  auto set = LookupSet(DeviceInfoSet);
  if (!set) return Fail(ERROR_INVALID_HANDLE);
  if (DevicePath == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!ValidSize(DeviceInterfaceData, DeviceInterfaceData ? DeviceInterfaceData->cbSize : 0,
                 sizeof(SP_DEVICE_INTERFACE_DATA)))
    return Fail(ERROR_INVALID_USER_BUFFER);
  DWORD error = 0;
  if (ConsumeFault("SetupDiOpenDeviceInterfaceA", &error)) return Fail(error);
  auto record = FindInterface(DevicePath);
  if (!record) return Fail(ERROR_NO_SUCH_DEVICE_INTERFACE);
  {
    std::lock_guard guard(Lock());
    set->members.Add(record);
  }
  if (DeviceInterfaceData) FillInterfaceData(DeviceInterfaceData, *record);
  return TRUE;
}

HKEY WINAPI SetupDiOpenDeviceInterfaceRegKey(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             DWORD, REGSAM) {
  auto fail = [](DWORD error) {
    SetLastError(error);
    return static_cast<HKEY>(INVALID_HANDLE_VALUE);
  };
  auto set = LookupSet(DeviceInfoSet);
  if (!set) return fail(ERROR_INVALID_HANDLE);
  if (DeviceInterfaceData == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
    return fail(ERROR_INVALID_USER_BUFFER);
  auto member = MemberOf(*set, DeviceInterfaceData);
  if (!member) return fail(ERROR_INVALID_PARAMETER);
  DWORD error = 0;
  if (ConsumeFault("SetupDiOpenDeviceInterfaceRegKey", &error)) return fail(error);
  if (!member->hasKey) return fail(ERROR_FILE_NOT_FOUND);
  std::map<std::string, RegistryValue> values;
  if (member->friendlyName) values["friendlyname"] = RegistryValue{member->friendlyNameType, *member->friendlyName};
  return OpenKeyHandle(std::move(values));
}

}  // extern "C"
