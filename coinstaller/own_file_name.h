// The co-installer's own file name, captured when the library is loaded.
#pragma once

#include "platform/win32.h"

// Reads the module's full path and keeps the part after the last backslash. FALSE when the
// path cannot be read at all (the load is then refused). A path cut to the buffer leaves the
// name unknown: a cut name would name another file.
BOOL CaptureOwnFileName(HMODULE hModule);
void ClearOwnFileName();
// The own file name, or the empty string while it is unknown.
LPCSTR OwnFileName();
