// Private-profile (INI file) reading of the simulated platform.
#pragma once

#include "winsim/base_types.h"

extern "C" {
// Reads INI-style files of the simulated file system. A file name without a directory part
// names a file of the Windows directory, as on Windows.
DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName);
}
