// The connection's device operations: each enumerates afresh and keeps nothing.
#include <new>

#include "client/client_connection.h"
#include "client/client_device.h"
#include "client/hidden_port_devices.h"

unsigned int ClientConnection::GetDeviceCount() { return CountHiddenPortDevices(); }

TarrowinHiddenMIDI::Device* ClientConnection::CreateDevice(int index) {
  CKsMidiFilter* pFilter = ReferenceHiddenPortFilter(index);
  if (pFilter == NULL) return NULL;
  ClientDevice* pDevice = new (std::nothrow) ClientDevice(pFilter, index);
  if (pDevice == NULL) DropReference(pFilter);
  return pDevice;
}
