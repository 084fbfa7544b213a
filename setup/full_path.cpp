#include "setup/full_path.h"

namespace devsetup {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A drive and its root ("C:\"), or a UNC or device path ("\\"): nothing to resolve against.
bool IsFullPath(const char* path) {
  const bool driveLetter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
  if (driveLetter && path[1] == ':' && IsSeparator(path[2])) return true;
  return IsSeparator(path[0]) && IsSeparator(path[1]);
}

}  // namespace

FullPath::FullPath(const char* path) : m_path(path) {
  if (IsFullPath(path)) return;
  DWORD length = GetFullPathNameA(path, sizeof m_full, m_full, nullptr);
  if (length != 0 && length < sizeof m_full) m_path = m_full;
}

}  // namespace devsetup
