// regstr.h of the simulated platform: the device configuration flags kept in a device's
// registry properties.
#pragma once

#define CONFIGFLAG_DISABLED 0x00000001
#define CONFIGFLAG_REMOVED 0x00000002
#define CONFIGFLAG_MANUAL_INSTALL 0x00000004
#define CONFIGFLAG_IGNORE_BOOT_LC 0x00000008
#define CONFIGFLAG_NET_BOOT 0x00000010
#define CONFIGFLAG_REINSTALL 0x00000020
#define CONFIGFLAG_FAILEDINSTALL 0x00000040
