#include "coinstaller/registration.h"

#include <cstring>

#include "coinstaller/coinstaller_list.h"
#include "coinstaller/own_file_name.h"

namespace {

const CHAR kCoInstallersKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
const REGSAM kCoInstallersAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
const CHAR kEntryPointSuffix[] = ",ClassCoInstaller_Entry";
// The package's earlier co-installer, whose entry UnregisterOld removes.
const CHAR kOldCoInstallerFileName[] = "tawusbaudio_coinst.dll";

// A class GUID string begins with "{" and has a "}" after it; anything else is ignored.
BOOL IsClassGuidCommandLine(LPCSTR pszCmdLine) {
  return pszCmdLine != NULL && pszCmdLine[0] == '{' && std::strchr(pszCmdLine, '}') != NULL;
}

LONG OpenCoInstallersKey(HKEY* phKey) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCoInstallersKey, 0, kCoInstallersAccess, phKey);
}

// The entry is built in a buffer that holds the longest own file name with the suffix, so a
// long name is neither cut nor written past the buffer.
struct EntryText {
  CHAR m_szText[MAX_PATH + sizeof(kEntryPointSuffix)];
};

BOOL BuildOwnEntry(EntryText* pEntry) {
  LPCSTR pszOwnFileName = OwnFileName();
  const size_t cchName = std::strlen(pszOwnFileName);
  if (cchName == 0 || cchName >= MAX_PATH) return FALSE;
  std::memcpy(pEntry->m_szText, pszOwnFileName, cchName);
  std::memcpy(pEntry->m_szText + cchName, kEntryPointSuffix, sizeof(kEntryPointSuffix));
  return TRUE;
}

// Adds the entry last unless it is there already. A value that cannot be read whole (longer
// than the buffer, or a failed read other than a missing value) is left as it is, so that no
// other co-installer's entry is lost.
void AddCoInstallerEntry(HKEY hKey, LPCSTR pszValueName, LPCSTR pszEntry) {
  CCoInstallerList list;
  LONG result = list.Read(hKey, pszValueName);
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return;
  if (list.Contains(pszEntry)) return;
  if (!list.Append(pszEntry)) return;
  list.Write(hKey, pszValueName);
}

}  // namespace

LONG RemoveCoInstallerEntry(LPCSTR pszValueName, LPCSTR pszFileName) {
  HKEY hKey = NULL;
  LONG result = OpenCoInstallersKey(&hKey);
  if (result != ERROR_SUCCESS) return result;
  CCoInstallerList list;
  result = list.Read(hKey, pszValueName);
  if (result != ERROR_SUCCESS) {
    RegCloseKey(hKey);
    return result;
  }
  LPCSTR pszFound = list.IsEmpty() ? NULL : list.FindByFilePrefix(pszFileName);
  if (pszFound != NULL) {
    list.RemoveAll(pszFound);
    list.Write(hKey, pszValueName);
  }
  return RegCloseKey(hKey);
}

extern "C" {

void CALLBACK ClassCoInstaller_Register(HWND, HINSTANCE, LPSTR pszCmdLine, int) {
  if (!IsClassGuidCommandLine(pszCmdLine)) return;
  EntryText entry;
  if (!BuildOwnEntry(&entry)) return;
  HKEY hKey = NULL;
  if (OpenCoInstallersKey(&hKey) != ERROR_SUCCESS) return;
  AddCoInstallerEntry(hKey, pszCmdLine, entry.m_szText);
  RegCloseKey(hKey);
}

void CALLBACK ClassCoInstaller_Unregister(HWND, HINSTANCE, LPSTR pszCmdLine, int) {
  if (!IsClassGuidCommandLine(pszCmdLine)) return;
  if (OwnFileName()[0] == '\0') return;
  RemoveCoInstallerEntry(pszCmdLine, OwnFileName());
}

void CALLBACK ClassCoInstaller_UnregisterOld(HWND, HINSTANCE, LPSTR pszCmdLine, int) {
  if (!IsClassGuidCommandLine(pszCmdLine)) return;
  RemoveCoInstallerEntry(pszCmdLine, kOldCoInstallerFileName);
}

}  // extern "C"
