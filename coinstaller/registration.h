// Registration of the co-installer in the class co-installer list of a setup class.
#pragma once

#include "platform/win32.h"

// Removes from the list named by the value name every copy of the first entry that begins
// like the file name (8 characters, ignoring case); deletes the value when nothing is left.
// Returns the last registry result.
LONG RemoveCoInstallerEntry(LPCSTR pszValueName, LPCSTR pszFileName);

// The rundll32 entry form; the command line is the class GUID string, braces included.
extern "C" {
void CALLBACK ClassCoInstaller_Register(HWND hwnd, HINSTANCE hInstance, LPSTR pszCmdLine, int nCmdShow);
void CALLBACK ClassCoInstaller_Unregister(HWND hwnd, HINSTANCE hInstance, LPSTR pszCmdLine, int nCmdShow);
void CALLBACK ClassCoInstaller_UnregisterOld(HWND hwnd, HINSTANCE hInstance, LPSTR pszCmdLine, int nCmdShow);
}
