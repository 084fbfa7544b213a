// InstallOemInf and InstallOemInfs: INF files into the driver store.
#include <cstring>

#include "setup/commands.h"
#include "setup/exit_codes.h"
#include "setup/full_path.h"

namespace devsetup {
namespace {

// directory + "\" + name, unchanged otherwise; false when it needs more than MAX_PATH bytes.
bool BuildInfPath(const char* directory, const char* name, char (&path)[MAX_PATH]) {
  size_t directoryLength = std::strlen(directory);
  size_t nameLength = std::strlen(name);
  if (directoryLength + 1 + nameLength + 1 > sizeof path) return false;
  std::memcpy(path, directory, directoryLength);
  path[directoryLength] = '\\';
  std::memcpy(path + directoryLength + 1, name, nameLength + 1);
  return true;
}

BOOL CopyIntoDriverStore(const char* infPath, const char* sourceMediaLocation) {
  return SetupCopyOEMInfA(infPath, sourceMediaLocation, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr);
}

}  // namespace

DWORD InstallOemInf(const char* infPath, const char* sourceMediaLocation) {
  FullPath fullInfPath(infPath);
  FullPath fullMediaLocation(sourceMediaLocation);
  if (CopyIntoDriverStore(fullInfPath.c_str(), fullMediaLocation.c_str())) return 0;
  return FailureCode(GetLastError());
}

DWORD InstallOemInfs(const char* directoryArgument) {
  FullPath fullDirectory(directoryArgument);
  const char* directory = fullDirectory.c_str();
  // Zeroed, and walked only within its 260 bytes, whatever the listing left in it.
  char list[MAX_PATH];
  std::memset(list, 0, sizeof list);
  if (!SetupGetInfFileListA(directory, INF_STYLE_WIN4, list, sizeof list, nullptr)) {
    OutputDebugStringA("SetupGetInfFileList() failed\n");
    return kExitListingFailed;
  }
  const char* end = list + sizeof list;
  for (const char* name = list; name < end && *name != '\0';) {
    size_t length = strnlen(name, static_cast<size_t>(end - name));
    if (name + length == end) break;  // an unterminated name is no name
    char path[MAX_PATH];
    if (!BuildInfPath(directory, name, path)) return ERROR_FILENAME_EXCED_RANGE;
    if (!CopyIntoDriverStore(path, directory)) return FailureCode(GetLastError());
    name += length + 1;
  }
  return 0;
}

}  // namespace devsetup
