#include "coinstaller/coinstaller_list.h"

#include <algorithm>
#include <cstring>

CCoInstallerList::CCoInstallerList() : m_cbEntries(0), m_cEntries(0) {
  std::memset(m_achList, 0, sizeof(m_achList));
}

void CCoInstallerList::AddEntry(const CHAR* pchText, DWORD cchText) {
  std::memcpy(m_achList + m_cbEntries, pchText, cchText);
  m_cbEntries += cchText;
  m_achList[m_cbEntries++] = '\0';
  m_achList[m_cbEntries] = '\0';
  ++m_cEntries;
}

LONG CCoInstallerList::Read(HKEY hKey, LPCSTR pszValueName) {
  BYTE abValue[kBufferSize];
  std::memset(abValue, 0, sizeof(abValue));
  DWORD cbValue = sizeof(abValue);
  LONG result = RegQueryValueExA(hKey, pszValueName, NULL, NULL, abValue, &cbValue);
  std::memset(m_achList, 0, sizeof(m_achList));
  m_cbEntries = 0;
  m_cEntries = 0;
  if (result != ERROR_SUCCESS) return result;
  // The returned length is the value's, and bytes past it are not the value's.
  if (cbValue > sizeof(abValue)) cbValue = sizeof(abValue);
  // The device installer reads the list up to its first empty string: what follows is dead
  // and stays out of the entries, so that writing the list back never makes it live.
  for (DWORD ib = 0; ib < cbValue;) {
    const CHAR* pchText = reinterpret_cast<const CHAR*>(abValue + ib);
    const void* pNul = std::memchr(pchText, '\0', cbValue - ib);
    DWORD cchText = pNul ? static_cast<DWORD>(static_cast<const CHAR*>(pNul) - pchText) : cbValue - ib;
    if (cchText == 0) break;
    AddEntry(pchText, cchText);
    ib += cchText + 1;
  }
  return ERROR_SUCCESS;
}

BOOL CCoInstallerList::Contains(LPCSTR pszEntry) const {
  for (const CHAR* pch = m_achList; *pch != '\0'; pch += std::strlen(pch) + 1)
    if (std::strcmp(pch, pszEntry) == 0) return TRUE;
  return FALSE;
}

LPCSTR CCoInstallerList::FindByFilePrefix(LPCSTR pszFileName) const {
  // A name shorter than the prefix is compared whole: its terminator would otherwise meet the
  // entry's comma, and its own entry "a.dll,..." would never be found.
  const size_t cchPrefix = std::min<size_t>(std::strlen(pszFileName), 8);
  if (cchPrefix == 0) return NULL;
  for (const CHAR* pch = m_achList; *pch != '\0'; pch += std::strlen(pch) + 1)
    if (_strnicmp(pch, pszFileName, cchPrefix) == 0) return pch;
  return NULL;
}

BOOL CCoInstallerList::Append(LPCSTR pszEntry) {
  // Room for the entry's terminating zero and the list's final zero.
  const size_t cchEntry = std::strlen(pszEntry);
  if (cchEntry == 0 || m_cbEntries + cchEntry + 2 > kBufferSize) return FALSE;
  AddEntry(pszEntry, static_cast<DWORD>(cchEntry));
  return TRUE;
}

void CCoInstallerList::RemoveAll(LPCSTR pszEntry) {
  // The entry may point into the list itself: compare against a copy.
  CHAR achRemoved[kBufferSize + 2];
  std::strcpy(achRemoved, pszEntry);
  CHAR achOld[sizeof(m_achList)];
  std::memcpy(achOld, m_achList, sizeof(achOld));
  std::memset(m_achList, 0, sizeof(m_achList));
  m_cbEntries = 0;
  m_cEntries = 0;
  for (const CHAR* pch = achOld; *pch != '\0'; pch += std::strlen(pch) + 1)
    if (std::strcmp(pch, achRemoved) != 0) AddEntry(pch, static_cast<DWORD>(std::strlen(pch)));
}

LONG CCoInstallerList::Write(HKEY hKey, LPCSTR pszValueName) const {
  if (m_cEntries == 0) return RegDeleteValueA(hKey, pszValueName);
  const DWORD cbList = m_cbEntries + 1;
  if (cbList > kBufferSize) return ERROR_MORE_DATA;
  return RegSetValueExA(hKey, pszValueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(m_achList), cbList);
}
