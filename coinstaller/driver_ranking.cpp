#include "coinstaller/driver_ranking.h"

#include <cstring>

#include "coinstaller/own_file_name.h"
#include "platform/inf_value.h"

namespace {

const CHAR kMarkerSection[] = "CustomClassCoInstaller";
const CHAR kMarkerKey[] = "UseClassCoInstaller";
const CHAR kMarkerDefault[] = "NULL";
// What a node that names this co-installer keeps of its rank: all but bit 31. (The SDK's
// DRIVER_UNTRUSTED_RANK is bit 15, which stays.)
const DWORD kTrustedRankMask = 0x7FFFFFFF;

// A node whose INF name cannot be read is neither this co-installer's nor another's.
enum MarkerAnswer { kNamesAnother, kNamesThis, kCannotTell };

MarkerAnswer ReadMarker(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDeviceInfoData, PSP_DRVINFO_DATA_V2_A pDriverInfoData) {
  CHAR szMarker[MAX_PATH];
  std::memset(szMarker, 0, sizeof(szMarker));
  // The fixed fields, the INF file name among them, but no room for the hardware-id list:
  // the call reports ERROR_INSUFFICIENT_BUFFER after filling them. Only the INF file name is
  // needed, and a list that happens to fit says nothing about the marker.
  SP_DRVINFO_DETAIL_DATA_A detail;
  std::memset(&detail, 0, sizeof(detail));
  detail.cbSize = sizeof(detail);
  if (!SetupDiGetDriverInfoDetailA(hDevInfo, pDeviceInfoData, pDriverInfoData, &detail, sizeof(detail), NULL) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return kCannotTell;
  detail.InfFileName[sizeof(detail.InfFileName) - 1] = '\0';
  GetPrivateProfileStringA(kMarkerSection, kMarkerKey, kMarkerDefault, szMarker, sizeof(szMarker), detail.InfFileName);
  inf_value::EndAtComment(szMarker);  // "classhook.dll ; ours" names classhook.dll
  LPCSTR pszOwnFileName = OwnFileName();
  return pszOwnFileName[0] != '\0' && _stricmp(szMarker, pszOwnFileName) == 0 ? kNamesThis : kNamesAnother;
}

BOOL AnyDriverNamesThisCoInstaller(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDeviceInfoData,
                                   PSP_DRVINFO_DATA_V2_A pDriverInfoData) {
  for (DWORD dwIndex = 0; SetupDiEnumDriverInfoA(hDevInfo, pDeviceInfoData, SPDIT_COMPATDRIVER, dwIndex,
                                                 pDriverInfoData);
       ++dwIndex) {
    if (DriverNamesThisCoInstaller(hDevInfo, pDeviceInfoData, pDriverInfoData)) return TRUE;
  }
  return FALSE;
}

// Makes a node that names this co-installer compete at trusted rank and every other node
// unusable. A node whose parameters or INF name cannot be read is left alone: marking it
// unusable could take the package's own driver out of the choice.
void RankDriver(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDeviceInfoData, PSP_DRVINFO_DATA_V2_A pDriverInfoData) {
  SP_DRVINSTALL_PARAMS params;
  std::memset(&params, 0, sizeof(params));
  params.cbSize = sizeof(params);
  if (!SetupDiGetDriverInstallParamsA(hDevInfo, pDeviceInfoData, pDriverInfoData, &params)) return;
  MarkerAnswer answer = ReadMarker(hDevInfo, pDeviceInfoData, pDriverInfoData);
  if (answer == kCannotTell) return;
  if (answer == kNamesThis)
    params.Rank &= kTrustedRankMask;
  else
    params.Flags |= DNF_BAD_DRIVER;
  SetupDiSetDriverInstallParamsA(hDevInfo, pDeviceInfoData, pDriverInfoData, &params);
}

}  // namespace

BOOL DriverNamesThisCoInstaller(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDeviceInfoData,
                                PSP_DRVINFO_DATA_V2_A pDriverInfoData) {
  return ReadMarker(hDevInfo, pDeviceInfoData, pDriverInfoData) == kNamesThis;
}

extern "C" DWORD CALLBACK ClassCoInstaller_Entry(DI_FUNCTION InstallFunction, HDEVINFO hDevInfo,
                                                 PSP_DEVINFO_DATA pDeviceInfoData, PCOINSTALLER_CONTEXT_DATA) {
  if (InstallFunction != DIF_SELECTBESTCOMPATDRV) return NO_ERROR;
  SP_DRVINFO_DATA_V2_A driverInfoData;
  std::memset(&driverInfoData, 0, sizeof(driverInfoData));
  driverInfoData.cbSize = sizeof(driverInfoData);
  if (!AnyDriverNamesThisCoInstaller(hDevInfo, pDeviceInfoData, &driverInfoData)) return NO_ERROR;
  for (DWORD dwIndex = 0; SetupDiEnumDriverInfoA(hDevInfo, pDeviceInfoData, SPDIT_COMPATDRIVER, dwIndex,
                                                 &driverInfoData);
       ++dwIndex)
    RankDriver(hDevInfo, pDeviceInfoData, &driverInfoData);
  return NO_ERROR;
}
