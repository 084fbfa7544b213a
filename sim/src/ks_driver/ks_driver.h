// The simulated kernel-streaming driver as the file layer and ksuser.dll reach it.
#pragma once

#include "kernel32/device_io.h"

namespace winsim::detail {

// Opens the filter behind a present interface (counted for the control API).
std::shared_ptr<DeviceFile> OpenFilterFile(const std::shared_ptr<InterfaceRecord>& record);

// KsCreatePin's work: checks the connection request against the filter and makes a pin handle.
DWORD CreatePinFile(HANDLE filter, const KSPIN_CONNECT* connect, HANDLE* pinHandle);

}  // namespace winsim::detail
