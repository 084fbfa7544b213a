// Published structure sizes and key offsets, checked at compile time in every build against
// one table: the simulated platform must lay them out as Windows does.
#include <cstddef>

#include "platform/win32.h"

namespace {

constexpr bool k64 = sizeof(void*) == 8;
constexpr size_t Width(size_t size64, size_t size32) { return k64 ? size64 : size32; }

static_assert(sizeof(KSPIN_CONNECT) == Width(72, 64));
static_assert(sizeof(KSSTREAM_HEADER) == Width(56, 48));
static_assert(sizeof(KSDATARANGE_MUSIC) == 96);
static_assert(offsetof(KSDATARANGE_MUSIC, Technology) == 64);
static_assert(sizeof(KSDATAFORMAT) == 64);
static_assert(sizeof(KSP_PIN) == 32);
static_assert(sizeof(KSPROPERTY) == 24);
static_assert(sizeof(KSMULTIPLE_ITEM) == 8);
static_assert(sizeof(KSMUSICFORMAT) == 8);
static_assert(sizeof(KSPIN_CINSTANCES) == 8);
static_assert(sizeof(OVERLAPPED) == Width(32, 20));
static_assert(sizeof(SP_DEVINFO_DATA) == Width(32, 28));
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == Width(32, 28));
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == Width(8, 5));
static_assert(sizeof(SP_DRVINSTALL_PARAMS) == Width(32, 20));
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);
static_assert(sizeof(INFCONTEXT) == Width(24, 16));

// Offsets the wire format and the stream requests rely on.
static_assert(offsetof(KSPIN_CONNECT, PinId) == 48);
static_assert(offsetof(KSPIN_CONNECT, Priority) == Width(64, 56));
static_assert(offsetof(KSSTREAM_HEADER, PresentationTime) == 8);
static_assert(offsetof(KSSTREAM_HEADER, Duration) == 24);
static_assert(offsetof(KSSTREAM_HEADER, FrameExtent) == 32);
static_assert(offsetof(KSSTREAM_HEADER, DataUsed) == 36);
static_assert(offsetof(KSSTREAM_HEADER, Data) == 40);
static_assert(offsetof(KSDATAFORMAT, MajorFormat) == 16);
static_assert(offsetof(KSDATAFORMAT, SubFormat) == 32);
static_assert(offsetof(KSDATAFORMAT, Specifier) == 48);
static_assert(offsetof(OVERLAPPED, hEvent) == Width(24, 16));
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_classguid) == 12);

// The driver-node structures are checked in the 64-bit builds, where the setup tools run.
static_assert(!k64 || sizeof(SP_DRVINFO_DATA_V2_A) == 800);
static_assert(!k64 || sizeof(SP_DRVINFO_DETAIL_DATA_A) == 808);
static_assert(!k64 || offsetof(SP_DRVINFO_DETAIL_DATA_A, InfFileName) == 288);

// SDK values the install side names, or must not be taken for: the same numbers in both worlds.
static_assert(CONFIGFLAG_REINSTALL == 0x00000020);
static_assert(ERROR_FILENAME_EXCED_RANGE == 206);
static_assert(DRIVER_UNTRUSTED_RANK == 0x00008000);

}  // namespace
