// Paths from the command line made full before they reach the device installation services:
// SetupCopyOEMInfA refuses a relative INF path, SetupOpenInfFileA looks for one in the Windows
// INF folder, GetPrivateProfileStringA in the Windows folder, and the driver store keeps a
// relative media location where it means nothing later.
#pragma once

#include "platform/win32.h"

namespace devsetup {

class FullPath {
 public:
  // A full path ("C:\..." or "\\server\...") stays as it is; any other is made full against
  // the current directory. One that cannot be made full within MAX_PATH stays as given, and
  // the platform call that receives it reports what is wrong with it.
  explicit FullPath(const char* path);
  FullPath(const FullPath&) = delete;
  FullPath& operator=(const FullPath&) = delete;

  const char* c_str() const { return m_path; }

 private:
  char m_full[MAX_PATH];
  const char* m_path;
};

}  // namespace devsetup
