// The driver store and SetupCopyOEMInfA.
#include "machine/driver_store.h"

#include <cstring>

#include "kernel32/file_system.h"
#include "setupapi/inf_parser.h"
#include "machine/install_state.h"
#include "winsim/control_files.h"
#include "winsim/sdk/setupapi.h"
#include "runtime/last_error.h"
#include "runtime/fault_injection.h"
#include "runtime/reset.h"

namespace winsim::detail {
namespace {

// Never destroyed: a process handing its machine back at exit reads it after static destructors.
std::vector<DriverStoreEntry>& Entries() {
  static auto* entries = new std::vector<DriverStoreEntry>;
  return *entries;
}

ResetRegistration resetStore([] {
  std::lock_guard guard(Lock());
  Entries().clear();
});

std::string InfPath(const std::string& name) { return InfDirectoryPath() + "\\" + name; }

// Windows takes the lowest number whose oemNN.inf is not in the INF folder.
std::string FreeOemName() {
  for (unsigned number = 0;; ++number) {
    std::string name = "oem" + std::to_string(number) + ".inf";
    if (!FileExists(InfPath(name))) return name;
  }
}

}  // namespace

std::string FindPublishedInf(const std::string& contents) {
  for (const DriverStoreEntry& entry : StoreEntries()) {
    DWORD error = 0;
    if (ReadWholeFile(InfPath(entry.publishedName), &error) == contents) return entry.publishedName;
  }
  return {};
}

std::string PublishInf(const std::string& contents, const std::string& sourcePath, const std::string& mediaLocation,
                       bool* alreadyPresent) {
  std::string name = FindPublishedInf(contents);
  *alreadyPresent = !name.empty();
  if (*alreadyPresent) return name;
  name = FreeOemName();
  DWORD error = 0;
  WriteWholeFile(InfPath(name), contents, &error);
  std::lock_guard guard(Lock());
  Entries().push_back({name, sourcePath, mediaLocation});
  return name;
}

std::vector<DriverStoreEntry> StoreEntries() {
  std::lock_guard guard(Lock());
  return Entries();
}

void RestoreStoreEntries(const std::vector<DriverStoreEntry>& entries) {
  std::lock_guard guard(Lock());
  Entries() = entries;
}

}  // namespace winsim::detail

namespace winsim {

std::vector<DriverStoreEntry> DriverStoreEntries() { return detail::StoreEntries(); }

}  // namespace winsim

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
