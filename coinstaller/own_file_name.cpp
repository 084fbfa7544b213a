#include "coinstaller/own_file_name.h"

#include <cstring>

namespace {

CHAR g_szOwnPath[MAX_PATH];
LPCSTR g_pszOwnFileName = "";

}  // namespace

BOOL CaptureOwnFileName(HMODULE hModule) {
  std::memset(g_szOwnPath, 0, sizeof(g_szOwnPath));
  g_pszOwnFileName = "";
  DWORD length = GetModuleFileNameA(hModule, g_szOwnPath, sizeof(g_szOwnPath));
  if (length == 0) return FALSE;
  if (length >= sizeof(g_szOwnPath)) return TRUE;
  LPCSTR pszLastBackslash = std::strrchr(g_szOwnPath, '\\');
  g_pszOwnFileName = pszLastBackslash ? pszLastBackslash + 1 : g_szOwnPath;
  return TRUE;
}

void ClearOwnFileName() {
  std::memset(g_szOwnPath, 0, sizeof(g_szOwnPath));
  g_pszOwnFileName = "";
}

LPCSTR OwnFileName() { return g_pszOwnFileName; }
