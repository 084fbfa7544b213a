// The connection's device operations. Devices are not built yet: there is nothing to count
// and nothing to create.
#include "client/client_connection.h"

unsigned int ClientConnection::GetDeviceCount() { return 0; }

TarrowinHiddenMIDI::Device* ClientConnection::CreateDevice(int) { return NULL; }
