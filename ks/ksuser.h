// KsCreatePin of ksuser.dll, loaded at run time: the client library never imports ksuser.dll.
#pragma once

#include "platform/win32.h"

// The published signature of ksuser.dll's KsCreatePin; a Win32 error code comes back.
typedef DWORD(WINAPI* PFN_KS_CREATE_PIN)(HANDLE hFilter, PKSPIN_CONNECT pConnect, ACCESS_MASK dwDesiredAccess,
                                          PHANDLE phConnection);

// KsCreatePin's address, resolved once per process and kept (the library is never freed);
// NULL while ksuser.dll or its export cannot be found. A module handle found before a failed
// lookup stays, so a later call only retries GetProcAddress.
PFN_KS_CREATE_PIN ResolveKsCreatePin();
