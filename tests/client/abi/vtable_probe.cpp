// Includes only the public header and calls through every interface, so that the compiler
// lays out each virtual table a host sees.
#include "client/TarrowinHiddenMIDI.h"

using namespace TarrowinHiddenMIDI;

void UseConnection(Connection* connection) {
  connection->GetDeviceCount();
  delete connection;
}
void UseDevice(Device* device) {
  device->GetName();
  delete device;
}
void UseInput(Input* input) {
  input->IsPresent();
  delete input;
}
void UseOutput(Output* output) {
  output->IsPresent();
  delete output;
}
