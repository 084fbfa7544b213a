#include "coinstaller/registration.h"

#include <cstring>

#include "coinstaller/coinstaller_list.h"
#include "coinstaller/own_file_name.h"
#include "platform/owners.h"

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

// The open's result; the key goes to `key` only when it opened.
LONG OpenCoInstallersKey(UniqueRegKey* key) {
  HKEY hKey = NULL;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCoInstallersKey, 0, kCoInstallersAccess, &hKey);
  if (result == ERROR_SUCCESS) key->reset(hKey);
  return result;
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
  UniqueRegKey key;
  LONG result = OpenCoInstallersKey(&key);
  if (result != ERROR_SUCCESS) return result;
  CCoInstallerList list;
  result = list.Read(key.get(), pszValueName);
  if (result != ERROR_SUCCESS) return result;
  LPCSTR pszFound = list.FindByFilePrefix(pszFileName);  // none in an empty list
  if (pszFound != NULL) {
    list.RemoveAll(pszFound);
    list.Write(key.get(), pszValueName);
  }
  // The last registry result is the close.
  return RegCloseKey(key.release());
}

extern "C" {

void CALLBACK ClassCoInstaller_Register(HWND, HINSTANCE, LPSTR pszCmdLine, int) {
  if (!IsClassGuidCommandLine(pszCmdLine)) return;
  EntryText entry;
  if (!BuildOwnEntry(&entry)) return;
  UniqueRegKey key;
  if (OpenCoInstallersKey(&key) != ERROR_SUCCESS) return;
  AddCoInstallerEntry(key.get(), pszCmdLine, entry.m_szText);
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
