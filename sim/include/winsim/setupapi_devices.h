// SetupAPI device records: device information sets of devices (not interfaces), enumeration
// and device registry properties.
#pragma once

#include "winsim/setupapi.h"

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_SERVICE 0x00000004
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009
#define SPDRP_CONFIGFLAGS 0x0000000A
#define SPDRP_MFG 0x0000000B
#define SPDRP_FRIENDLYNAME 0x0000000C
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000E
#define SPDRP_CAPABILITIES 0x0000000F
#define SPDRP_MAXIMUM_PROPERTY 0x00000025

// Device configuration flags (regstr.h).
#define CONFIGFLAG_DISABLED 0x00000001
#define CONFIGFLAG_REMOVED 0x00000002
#define CONFIGFLAG_MANUAL_INSTALL 0x00000004
#define CONFIGFLAG_IGNORE_BOOT_LC 0x00000008
#define CONFIGFLAG_NET_BOOT 0x00000010
#define CONFIGFLAG_REINSTALL 0x00000020
#define CONFIGFLAG_FAILEDINSTALL 0x00000040

#define ERROR_INVALID_DATA 13L
#define ERROR_INVALID_REG_PROPERTY 0xE0000209L

extern "C" {
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize);
BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer, DWORD PropertyBufferSize);
}
