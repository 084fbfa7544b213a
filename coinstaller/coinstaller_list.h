// The class co-installer list of one setup class: a REG_MULTI_SZ value of entries
// "file name,entry point", edited in a buffer of 1024 bytes.
#pragma once

#include "platform/win32.h"

class CCoInstallerList {
 public:
  // The value is read into and written from at most this many bytes.
  static const DWORD kBufferSize = 1024;

  CCoInstallerList();

  // Reads the value; returns the read's result. Whatever the value holds (another type, no
  // terminator, odd length) its strings up to the first empty one become the entries, in their
  // order, as the device installer reads the list. After a failed read the list is empty.
  LONG Read(HKEY hKey, LPCSTR pszValueName);

  // Exactly this entry, letter case included.
  BOOL Contains(LPCSTR pszEntry) const;
  // The first entry whose first 8 characters equal those of the file name (all of a shorter
  // name), ignoring case.
  LPCSTR FindByFilePrefix(LPCSTR pszFileName) const;
  // Adds the entry last. FALSE, and nothing changed, when the list would outgrow the buffer.
  BOOL Append(LPCSTR pszEntry);
  // Removes every copy of the entry, keeping the order of the others.
  void RemoveAll(LPCSTR pszEntry);

  // Writes the list back as REG_MULTI_SZ; an empty list deletes the value.
  LONG Write(HKEY hKey, LPCSTR pszValueName) const;

 private:
  void AddEntry(const CHAR* pchText, DWORD cchText);

  // The entries, each with its terminating zero, then the list's final zero. An unterminated
  // value of kBufferSize characters needs two bytes more than it had.
  CHAR m_achList[kBufferSize + 2];
  DWORD m_cbEntries;  // bytes of the entries with their terminating zeros
  DWORD m_cEntries;
};
