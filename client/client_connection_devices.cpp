// The connection's device operations: each enumerates afresh and keeps nothing.
#include <new>

#include "client/client_connection.h"
#include "client/client_device.h"
#include "client/hidden_port_devices.h"

unsigned int ClientConnection::GetDeviceCount() { return CountHiddenPortDevices(); }

TarrowinHiddenMIDI::Device* ClientConnection::CreateDevice(int index) {
  KsRef<CKsMidiFilter> filter = ReferenceHiddenPortFilter(index);
  // Without memory the filter's reference goes with `filter`.
  return filter ? new (std::nothrow) ClientDevice(std::move(filter), index) : NULL;
}
