#include "client/device_list.h"

#include <cstring>
#include <new>

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
  if (hKey == NULL || hKey == INVALID_HANDLE_VALUE) return;
  ReadFriendlyName(hKey, pRecord);
  RegCloseKey(hKey);
}

}  // namespace

DeviceRecord* MakeDeviceRecord(LPCSTR pszPath) {
  // A path that does not fit the record's field is refused rather than cut: a cut path would
  // name another interface or none.
  if (std::strlen(pszPath) >= sizeof(DeviceRecord::m_szPath)) return NULL;
  DeviceRecord* pRecord = new (std::nothrow) DeviceRecord;
  if (pRecord == NULL) return NULL;
  std::memset(pRecord, 0, sizeof(*pRecord));
  std::memcpy(pRecord->m_szPath, pszPath, std::strlen(pszPath) + 1);

  // A fresh set of its own, so the enumeration's set is not disturbed.
  HDEVINFO hDevInfo = SetupDiCreateDeviceInfoList(NULL, NULL);
  if (hDevInfo == INVALID_HANDLE_VALUE) return pRecord;
  ReadRecordName(hDevInfo, pRecord);
  SetupDiDestroyDeviceInfoList(hDevInfo);
  return pRecord;
}

CDeviceList::CDeviceList(REFGUID guidCategory) : m_guidCategory(guidCategory), m_apRecords(), m_cRecords(0) {}

CDeviceList::~CDeviceList() {
  for (ULONG_PTR i = 0; i < m_cRecords; ++i) delete m_apRecords[i];
}

bool CDeviceList::OnDeviceAdded(DeviceRecord*) { return true; }

void CDeviceList::OnDeviceRemoved(DeviceRecord*) {}

void CDeviceList::Enumerate() {
  HDEVINFO hDevInfo = SetupDiGetClassDevsA(&m_guidCategory, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (hDevInfo == INVALID_HANDLE_VALUE) return;

  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData;
    std::memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(hDevInfo, NULL, &m_guidCategory, index, &interfaceData)) break;

    BYTE* pBuffer = new (std::nothrow) BYTE[kDetailBufferSize];
    if (pBuffer == NULL) break;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(pBuffer);
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA devInfoData;
    std::memset(&devInfoData, 0, sizeof(devInfoData));
    devInfoData.cbSize = sizeof(devInfoData);
    if (SetupDiGetDeviceInterfaceDetailA(hDevInfo, &interfaceData, pDetail, kDetailBufferSize, NULL, &devInfoData))
      OfferInterface(pDetail->DevicePath);
    delete[] pBuffer;
  }
  SetupDiDestroyDeviceInfoList(hDevInfo);
}

void CDeviceList::OfferInterface(LPCSTR pszPath) {
  // A full list treats further devices like rejected ones.
  if (m_cRecords >= kMaxDevices || IsKnownPath(pszPath)) return;
  DeviceRecord* pRecord = MakeDeviceRecord(pszPath);
  if (pRecord == NULL) return;  // a path too long for a record, or no memory
  if (OnDeviceAdded(pRecord)) {
    m_apRecords[m_cRecords++] = pRecord;
  } else {
    delete pRecord;
  }
}

bool CDeviceList::IsKnownPath(LPCSTR pszPath) const {
  for (ULONG_PTR i = 0; i < m_cRecords; ++i) {
    if (_mbsicmp(reinterpret_cast<const unsigned char*>(m_apRecords[i]->m_szPath),
                 reinterpret_cast<const unsigned char*>(pszPath)) == 0)
      return true;
  }
  return false;
}
