// Driver nodes: the compatible driver list of each device record, enumerated with
// SetupDiEnumDriverInfoA, described by SetupDiGetDriverInfoDetailA and ranked through the
// driver install parameters. One list per device, kept by the machine: the simulated installer
// has built it before any call sees it.
#include <cstring>
#include <map>

#include "setupapi/device_record_sets.h"
#include "winsim/control_driver_nodes.h"
#include "runtime/last_error.h"
#include "runtime/fault_injection.h"

namespace winsim::detail {
namespace {

struct DriverNode {
  DriverNodeDesc desc;
  SP_DRVINSTALL_PARAMS params{};
  ULONG_PTR id = 0;  // what SP_DRVINFO_DATA::Reserved carries
};

struct DriverLists {
  std::map<DEVINST, std::vector<DriverNode>> byDevice;
  ULONG_PTR nextId = 1;
};

AreaState<DriverLists> State;

// Both published sizes of the driver information are accepted, as SetupAPI accepts them.
bool ValidDriverInfoSize(const SP_DRVINFO_DATA_V2_A* data) {
  return data->cbSize == sizeof(SP_DRVINFO_DATA_V2_A) || data->cbSize == sizeof(SP_DRVINFO_DATA_V1_A);
}

// The device that `data` names in `set`, or 0 with the error to report.
DEVINST DeviceOf(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD* error) {
  std::shared_ptr<DeviceRecord> record = DeviceRecordOfSet(set, data, error);
  return record ? record->devInst : 0;
}

// The node a driver information names among the device's compatible drivers; call with
// Lock() held. A list's nodes have consecutive ids, so the id gives the position: no walk.
DriverNode* FindNodeLocked(DEVINST device, const SP_DRVINFO_DATA_V2_A* data) {
  auto list = State().byDevice.find(device);
  if (list == State().byDevice.end() || list->second.empty()) return nullptr;
  std::vector<DriverNode>& nodes = list->second;
  ULONG_PTR position = data->Reserved - nodes.front().id;  // wraps for ids below the first
  if (position >= nodes.size() || nodes[position].id != data->Reserved) return nullptr;
  return &nodes[position];
}

void CopyText(CHAR* field, size_t size, const std::string& text) {
  size_t length = std::min(text.size(), size - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

void FillDriverInfo(PSP_DRVINFO_DATA_V2_A data, const DriverNode& node) {
  data->DriverType = SPDIT_COMPATDRIVER;
  data->Reserved = node.id;
  CopyText(data->Description, sizeof data->Description, node.desc.description);
  CopyText(data->MfgName, sizeof data->MfgName, node.desc.manufacturer);
  CopyText(data->ProviderName, sizeof data->ProviderName, node.desc.provider);
  if (data->cbSize == sizeof(SP_DRVINFO_DATA_V2_A)) {
    data->DriverDate = FILETIME{};
    data->DriverVersion = 0;
  }
}

// The hardware-id list of a detail: the hardware id, then the compatible ids, then the final
// zero; and where the compatible ids begin and how long they are.
struct HardwareIdList {
  std::string chars;
  DWORD compatOffset = 0;
  DWORD compatLength = 0;
};

HardwareIdList BuildHardwareIds(const std::vector<std::string>& ids) {
  HardwareIdList list;
  for (size_t index = 0; index < ids.size(); ++index) {
    if (index == 1) list.compatOffset = static_cast<DWORD>(list.chars.size());
    list.chars += ids[index];
    list.chars += '\0';
  }
  if (ids.size() < 2) list.chars += '\0';  // the empty compatible-id list
  list.chars += '\0';
  if (ids.size() > 1) list.compatLength = static_cast<DWORD>(list.chars.size()) - list.compatOffset;
  return list;
}

void FillDetailFixedPart(PSP_DRVINFO_DETAIL_DATA_A detail, const DriverNode& node, const HardwareIdList& ids) {
  detail->InfDate = FILETIME{};
  detail->CompatIDsOffset = ids.compatOffset;
  detail->CompatIDsLength = ids.compatLength;
  detail->Reserved = 0;
  CopyText(detail->SectionName, sizeof detail->SectionName, node.desc.section);
  CopyText(detail->InfFileName, sizeof detail->InfFileName, node.desc.infFileName);
  CopyText(detail->DrvDescription, sizeof detail->DrvDescription, node.desc.description);
}

// Checks shared by the calls on one node: the set, the device, the driver information.
BOOL LookUpNode(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_DRVINFO_DATA_A driver, DEVINST* devInst) {
  DWORD error = 0;
  *devInst = DeviceOf(set, device, &error);
  if (*devInst == 0) return Fail(error);
  if (driver == nullptr) return Fail(ERROR_NO_DRIVER_SELECTED);
  if (!ValidDriverInfoSize(driver)) return Fail(ERROR_INVALID_USER_BUFFER);
  return TRUE;
}

// Checks what the install-parameter calls share, then lets `use` read or change the node's
// parameters under the lock.
template <typename Use>
BOOL WithInstallParams(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_DRVINFO_DATA_A driver,
                       PSP_DRVINSTALL_PARAMS params, Use use) {
  DEVINST devInst = 0;
  if (!LookUpNode(set, device, driver, &devInst)) return FALSE;
  if (params == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (params->cbSize != sizeof(SP_DRVINSTALL_PARAMS)) return Fail(ERROR_INVALID_USER_BUFFER);
  std::lock_guard guard(Lock());
  DriverNode* node = FindNodeLocked(devInst, driver);
  if (node == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  use(*node, params);
  return TRUE;
}

}  // namespace
}  // namespace winsim::detail

namespace winsim {

void SetCompatibleDrivers(DEVINST device, const std::vector<DriverNodeDesc>& drivers) {
  std::lock_guard guard(detail::Lock());
  std::vector<detail::DriverNode>& list = detail::State().byDevice[device];
  list.clear();
  for (const DriverNodeDesc& desc : drivers) {
    detail::DriverNode node;
    node.desc = desc;
    node.params.cbSize = sizeof(SP_DRVINSTALL_PARAMS);
    node.params.Rank = desc.rank;
    node.params.Flags = desc.flags;
    node.id = detail::State().nextId++;
    list.push_back(node);
  }
}

std::vector<DriverInstallState> CompatibleDriverStates(DEVINST device) {
  std::lock_guard guard(detail::Lock());
  std::vector<DriverInstallState> states;
  for (const detail::DriverNode& node : detail::State().byDevice[device])
    states.push_back({node.params.Rank, node.params.Flags});
  return states;
}

}  // namespace winsim

using namespace winsim::detail;

extern "C" {

BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
                                   DWORD MemberIndex, PSP_DRVINFO_DATA_A DriverInfoData) {
  if (FailsByFault("SetupDiEnumDriverInfoA")) return FALSE;
  DWORD error = 0;
  DEVINST device = DeviceOf(DeviceInfoSet, DeviceInfoData, &error);
  if (device == 0) return Fail(error);
  if (DriverInfoData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (!ValidDriverInfoSize(DriverInfoData)) return Fail(ERROR_INVALID_USER_BUFFER);
  if (DriverType == SPDIT_CLASSDRIVER) return Fail(ERROR_NO_MORE_ITEMS);  // no class driver list is built
  if (DriverType != SPDIT_COMPATDRIVER) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard guard(Lock());
  auto list = State().byDevice.find(device);
  if (list == State().byDevice.end() || MemberIndex >= list->second.size()) return Fail(ERROR_NO_MORE_ITEMS);
  FillDriverInfo(DriverInfoData, list->second[MemberIndex]);
  return TRUE;
}

BOOL WINAPI SetupDiGetDriverInfoDetailA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        PSP_DRVINFO_DATA_A DriverInfoData,
                                        PSP_DRVINFO_DETAIL_DATA_A DriverInfoDetailData,
                                        DWORD DriverInfoDetailDataSize, PDWORD RequiredSize) {
  if (FailsByFault("SetupDiGetDriverInfoDetailA")) return FALSE;
  DEVINST device = 0;
  if (!LookUpNode(DeviceInfoSet, DeviceInfoData, DriverInfoData, &device)) return FALSE;
  const DWORD fixedPart = sizeof(SP_DRVINFO_DETAIL_DATA_A);
  if (DriverInfoDetailData == nullptr ? DriverInfoDetailDataSize != 0
                                      : DriverInfoDetailDataSize < fixedPart ||
                                            DriverInfoDetailData->cbSize != fixedPart)
    return Fail(ERROR_INVALID_USER_BUFFER);
  std::lock_guard guard(Lock());
  DriverNode* node = FindNodeLocked(device, DriverInfoData);
  if (node == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  HardwareIdList ids = BuildHardwareIds(node->desc.hardwareIds);
  const DWORD idsOffset = offsetof(SP_DRVINFO_DETAIL_DATA_A, HardwareID);
  const DWORD required = idsOffset + static_cast<DWORD>(ids.chars.size());
  if (RequiredSize) *RequiredSize = required;
  if (DriverInfoDetailData == nullptr) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // The fixed fields are filled even when the hardware ids do not fit.
  FillDetailFixedPart(DriverInfoDetailData, *node, ids);
  if (DriverInfoDetailDataSize < required) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(DriverInfoDetailData->HardwareID, ids.chars.data(), ids.chars.size());
  return TRUE;
}

BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
  if (FailsByFault("SetupDiGetDriverInstallParamsA")) return FALSE;
  return WithInstallParams(DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams,
                           [](DriverNode& node, PSP_DRVINSTALL_PARAMS params) { *params = node.params; });
}

BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DRVINFO_DATA_A DriverInfoData,
                                           PSP_DRVINSTALL_PARAMS DriverInstallParams) {
  if (FailsByFault("SetupDiSetDriverInstallParamsA")) return FALSE;
  return WithInstallParams(DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams,
                           [](DriverNode& node, PSP_DRVINSTALL_PARAMS params) {
                             node.params.Rank = params->Rank;
                             node.params.Flags = params->Flags;
                             node.params.PrivateData = params->PrivateData;
                           });
}

}  // extern "C"
