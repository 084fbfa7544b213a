// The ranking rule: drivers whose INF asks for this co-installer win over the other
// compatible drivers of the device.
#pragma once

#include "platform/win32.h"

// TRUE when the driver node's INF names this co-installer in its marker.
BOOL DriverNamesThisCoInstaller(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDeviceInfoData,
                                PSP_DRVINFO_DATA_V2_A pDriverInfoData);

// The published co-installer entry point. Acts on DIF_SELECTBESTCOMPATDRV only; always
// NO_ERROR, so it is never called back for post-processing.
extern "C" DWORD CALLBACK ClassCoInstaller_Entry(DI_FUNCTION InstallFunction, HDEVINFO hDevInfo,
                                                 PSP_DEVINFO_DATA pDeviceInfoData,
                                                 PCOINSTALLER_CONTEXT_DATA pContext);
