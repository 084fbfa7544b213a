// The library's three exports.
#include <new>

#include "client/TarrowinHiddenMIDI.h"
#include "client/client_connection.h"
#include "ks/matchers.h"

namespace {
const int kInterfaceVersion = 1;
}  // namespace

extern "C" TarrowinHiddenMIDI::Connection* TARROWIN_EXPORT VODICreate(TarrowinHiddenMIDI::NotifyCallback callback,
                                                                      void* context) {
  // Without memory there is no connection to return: the host gets null, and nothing else
  // (matcher, window, class, registration) has been touched.
  ClientConnection* connection = new (std::nothrow) ClientConnection(callback, context);
  if (connection == NULL) return NULL;
  // From now on the device operations see only the package's hidden MIDI ports.
  SetDataRangeMatcher(IsHiddenMidiDataRange);
  connection->OpenNotificationWindow();
  return connection;
}

extern "C" void TARROWIN_EXPORT VODIDestroy(TarrowinHiddenMIDI::Connection* connection) {
  if (connection == NULL) return;
  connection->ScalarDeletingDestructor(TarrowinHiddenMIDI::kDeleteFreesMemory);
}

extern "C" int TARROWIN_EXPORT VODIGetVersion() { return kInterfaceVersion; }
