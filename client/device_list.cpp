#include "client/device_list.h"

#include <cstring>
#include <new>

#include "platform/owners.h"

namespace {

// Room for an SP_DEVICE_INTERFACE_DETAIL_DATA_A with a path of up to 524 characters.
const DWORD kDetailBufferSize = 528;

// Reads the value straight into the record. A value that does not fit, or any other failure,
// leaves the name empty; a value that fills all 260 bytes keeps its first 259 characters.
void ReadFriendlyName(HKEY hKey, DeviceRecord* pRecord) {
  DWORD cbName = sizeof(pRecord->m_szFriendlyName);
  LONG result = RegQueryValueExA(hKey, "FriendlyName", NULL, NULL,
                                 reinterpret_cast<LPBYTE>(pRecord->m_szFriendlyName), &cbName);
  if (result != ERROR_SUCCESS) {
    std::memset(pRecord->m_szFriendlyName, 0, sizeof(pRecord->m_szFriendlyName));
    return;
  }
  pRecord->m_szFriendlyName[sizeof(pRecord->m_szFriendlyName) - 1] = '\0';
}

void ReadRecordName(HDEVINFO hDevInfo, DeviceRecord* pRecord) {
  SP_DEVICE_INTERFACE_DATA interfaceData;
  std::memset(&interfaceData, 0, sizeof(interfaceData));
  interfaceData.cbSize = sizeof(interfaceData);
  if (!SetupDiOpenDeviceInterfaceA(hDevInfo, pRecord->m_szPath, 0, &interfaceData)) return;
  HKEY hKey = SetupDiOpenDeviceInterfaceRegKey(hDevInfo, &interfaceData, 0, KEY_READ);
  if (hKey == INVALID_HANDLE_VALUE) return;  // the failure value, which no owner may close
  UniqueRegKey key(hKey);
  if (key) ReadFriendlyName(key.get(), pRecord);
}

}  // namespace

std::unique_ptr<DeviceRecord> MakeDeviceRecord(LPCSTR pszPath) {
  // A path that does not fit the record's field is refused rather than cut: a cut path would
  // name another interface or none.
  if (std::strlen(pszPath) >= sizeof(DeviceRecord::m_szPath)) return NULL;
  std::unique_ptr<DeviceRecord> record(new (std::nothrow) DeviceRecord);
  if (record == NULL) return NULL;
  std::memset(record.get(), 0, sizeof(DeviceRecord));
  std::memcpy(record->m_szPath, pszPath, std::strlen(pszPath) + 1);

  // A fresh set of its own, so the enumeration's set is not disturbed.
  UniqueDevInfo set(SetupDiCreateDeviceInfoList(NULL, NULL));
  if (set) ReadRecordName(set.get(), record.get());
  return record;
}

CDeviceList::CDeviceList(REFGUID guidCategory) : m_guidCategory(guidCategory), m_apRecords(), m_cRecords(0) {}

bool CDeviceList::OnDeviceAdded(DeviceRecord*) { return true; }

void CDeviceList::OnDeviceRemoved(DeviceRecord*) {}

void CDeviceList::Enumerate() {
  UniqueDevInfo set(SetupDiGetClassDevsA(&m_guidCategory, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return;

  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData;
    std::memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(set.get(), NULL, &m_guidCategory, index, &interfaceData)) break;

    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kDetailBufferSize]);
    if (buffer == NULL) break;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.get());
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA devInfoData;
    std::memset(&devInfoData, 0, sizeof(devInfoData));
    devInfoData.cbSize = sizeof(devInfoData);
    if (SetupDiGetDeviceInterfaceDetailA(set.get(), &interfaceData, pDetail, kDetailBufferSize, NULL, &devInfoData))
      OfferInterface(pDetail->DevicePath);
  }
}

void CDeviceList::OfferInterface(LPCSTR pszPath) {
  // A full list treats further devices like rejected ones.
  if (m_cRecords >= kMaxDevices || IsKnownPath(pszPath)) return;
  std::unique_ptr<DeviceRecord> record = MakeDeviceRecord(pszPath);
  if (record == NULL) return;  // a path too long for a record, or no memory
  // A rejected record goes with `record`.
  if (OnDeviceAdded(record.get())) m_apRecords[m_cRecords++] = std::move(record);
}

bool CDeviceList::IsKnownPath(LPCSTR pszPath) const {
  for (ULONG_PTR i = 0; i < m_cRecords; ++i) {
    if (_mbsicmp(reinterpret_cast<const unsigned char*>(m_apRecords[i]->m_szPath),
                 reinterpret_cast<const unsigned char*>(pszPath)) == 0)
      return true;
  }
  return false;
}
