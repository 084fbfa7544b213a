// SetupCopyOEMInfA: an INF published in the driver store.
#include <cstring>

#include "kernel32/file_system.h"
#include "machine/driver_store.h"
#include "machine/install_state.h"
#include "runtime/fault_injection.h"
#include "runtime/last_error.h"
#include "setupapi/inf_parser.h"
#include "winsim/control_files.h"
#include "winsim/sdk/setupapi.h"

using namespace winsim::detail;

extern "C" BOOL WINAPI SetupCopyOEMInfA(PCSTR SourceInfFileName, PCSTR OEMSourceMediaLocation,
                                        DWORD OEMSourceMediaType, DWORD CopyStyle, PSTR DestinationInfFileName,
                                        DWORD DestinationInfFileNameSize, PDWORD RequiredSize,
                                        PSTR* DestinationInfFileNameComponent) {
  DWORD error = 0;
  if (ConsumeFault("SetupCopyOEMInfA", &error)) return Fail(error);
  if (SourceInfFileName == nullptr || OEMSourceMediaType >= SPOST_MAX ||
      (DestinationInfFileName == nullptr && DestinationInfFileNameSize != 0))
    return Fail(ERROR_INVALID_PARAMETER);
  // The source is named by its full path: a relative one is not looked for in the current
  // directory (nor anywhere else).
  if (!IsFullPath(SourceInfFileName)) return Fail(ERROR_FILE_NOT_FOUND);
  // The source must be a Windows-4-style INF: Windows opens it before publishing it as it is.
  std::optional<std::string> contents = ReadWholeFile(SourceInfFileName, &error);
  InfDocument document;
  if (!contents || !ParseInfOfStyle(*contents, INF_STYLE_WIN4, &document, &error, nullptr)) return Fail(error);
  // Publishing writes to the system INF folder, which only administrators may change.
  if (!CallerIsAdministrator()) return Fail(ERROR_ACCESS_DENIED);

  std::string existing = FindPublishedInf(*contents);
  if (existing.empty() && (CopyStyle & SP_COPY_REPLACEONLY)) return Fail(ERROR_FILE_NOT_FOUND);
  std::string name = existing;
  if (existing.empty() || !(CopyStyle & SP_COPY_NOOVERWRITE)) {
    bool alreadyPresent = false;
    name = PublishInf(*contents, SourceInfFileName,
                      OEMSourceMediaLocation && OEMSourceMediaType != SPOST_NONE ? OEMSourceMediaLocation : "",
                      &alreadyPresent);
  }
  std::string destination = winsim::InfDirectoryPath() + "\\" + name;
  DWORD required = static_cast<DWORD>(destination.size()) + 1;
  if (RequiredSize) *RequiredSize = required;
  if (DestinationInfFileName) {
    if (DestinationInfFileNameSize < required) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(DestinationInfFileName, destination.c_str(), required);
    if (DestinationInfFileNameComponent)
      *DestinationInfFileNameComponent = DestinationInfFileName + destination.size() - name.size();
  }
  if (!existing.empty() && (CopyStyle & SP_COPY_NOOVERWRITE)) return Fail(ERROR_FILE_EXISTS);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
