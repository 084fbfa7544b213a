// The driver store: INF files published in the system INF folder under oemNN.inf names.
#include "machine/driver_store.h"

#include "kernel32/file_system.h"
#include "winsim/control_files.h"
#include "runtime/reset.h"

namespace winsim::detail {
namespace {

AreaState<std::vector<DriverStoreEntry>> Entries;

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
