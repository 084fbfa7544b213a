// The simulated file system: Windows path rules and an in-memory tree of files.
#include "kernel32/file_system.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "winsim/control_files.h"
#include "winsim/sdk.h"
#include "runtime/fault_injection.h"
#include "runtime/reset.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

struct Entry {
  std::string path;  // full path with the letter case it was created with
  bool directory = false;
  std::string contents;
};

// A fresh machine's folders.
struct FileSystem {
  FileSystem() {
    for (const char* dir : {"C:\\", "C:\\Windows", "C:\\Windows\\INF", "C:\\Windows\\System32"})
      entries[Lower(dir)] = Entry{dir, true, {}};
  }
  std::map<std::string, Entry> entries;  // keyed by the lower-case full path
  std::string currentDirectory = "C:\\";
};

// A process taking over a machine file (machine_file.cpp) at static-initialisation time makes
// it first, so its files are never replaced by a fresh machine afterwards.
AreaState<FileSystem> State;

void AddDirectoryLocked(const std::string& full) { State().entries[Lower(full)] = Entry{full, true, {}}; }

bool HasDrive(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

bool ValidComponent(const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20 || std::string("<>:\"|?*").find(static_cast<char>(c)) != std::string::npos) return false;
  return true;
}

// The directory part of a full path ("C:\\" for "C:\\x"); empty for a root.
std::string ParentOf(const std::string& full) {
  size_t slash = full.find_last_of('\\');
  if (slash == std::string::npos || slash + 1 == full.size()) return {};
  return slash == 2 ? full.substr(0, 3) : full.substr(0, slash);
}

const Entry* FindLocked(const std::string& full) {
  auto found = State().entries.find(Lower(full));
  return found == State().entries.end() ? nullptr : &found->second;
}

bool IsDirectoryLocked(const std::string& full) {
  const Entry* entry = FindLocked(full);
  return entry && entry->directory;
}

// Resolves for the control API, where a bad path is a mistake in the test itself.
std::string ResolveOrEmpty(const std::string& path) {
  std::string full;
  DWORD error = 0;
  return ResolvePath(path, &full, &error) ? full : std::string();
}

// NTFS lists a directory in the order of its names upper-cased ("ab.inf" before "a_b.inf").
std::vector<std::string> InListingOrder(std::vector<std::string> names) {
  auto upper = [](char c) { return std::toupper(static_cast<unsigned char>(c)); };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return upper(x) < upper(y); });
  });
  return names;
}

void CreateDirectoriesLocked(const std::string& full) {
  if (full.empty() || IsDirectoryLocked(full)) return;
  CreateDirectoriesLocked(ParentOf(full));
  AddDirectoryLocked(full);
}

}  // namespace

namespace {

// "\\server\share" of a UNC path (its root, which ".." never climbs above), or empty.
std::string UncRoot(const std::string& text) {
  if (text.rfind("\\\\", 0) != 0) return {};
  size_t server = text.find('\\', 2);
  if (server == std::string::npos) return text;
  size_t share = text.find('\\', server + 1);
  return share == std::string::npos ? text : text.substr(0, share);
}

// The root a path is resolved under, and the part of the path left to apply to it.
void SplitRoot(const std::string& text, const std::string& current, std::string* root, std::string* rest) {
  std::string unc = UncRoot(text);
  if (!unc.empty()) {
    *root = unc;
    *rest = text.substr(unc.size());
  } else if (HasDrive(text)) {
    std::string drive(1, static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))));
    drive += ":\\";
    *rest = text.substr(2);
    bool sameDrive = std::toupper(static_cast<unsigned char>(current[0])) == drive[0];
    // "C:x" is relative to the drive's current directory, which only the current drive has here.
    bool fromCurrent = (rest->empty() || (*rest)[0] != '\\') && sameDrive;
    *root = drive.substr(0, 2);
    if (fromCurrent) *rest = current.substr(2) + "\\" + *rest;
  } else {
    *root = current.substr(0, 2);
    *rest = text[0] == '\\' ? text : current.substr(2) + "\\" + text;
  }
}

}  // namespace

std::string NormalizedFullPath(const std::string& path) {
  std::string text = path;
  std::replace(text.begin(), text.end(), '/', '\\');
  if (text.empty()) return {};
  std::string prefix;
  if (text.rfind("\\\\?\\", 0) == 0) {
    prefix = text.substr(0, 4);
    text = text.substr(4);
    if (text.empty()) return prefix;
  }
  std::string current;
  {
    std::lock_guard guard(Lock());
    current = State().currentDirectory;
  }
  std::string root;
  std::string rest;
  SplitRoot(text, current, &root, &rest);

  std::vector<std::string> parts;
  for (size_t start = 0; start <= rest.size();) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    bool last = end == rest.size();
    start = end + 1;
    // The last name loses its trailing dots and blanks ("x.inf " is "x.inf").
    if (last && part != "." && part != "..") part.erase(part.find_last_not_of(". ") + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string result = prefix + root;
  if (parts.empty()) return UncRoot(text).empty() ? result + "\\" : result;
  for (const std::string& part : parts) result += "\\" + part;
  return result;
}

bool ResolvePath(const std::string& path, std::string* full, DWORD* error) {
  std::string text = path;
  std::replace(text.begin(), text.end(), '/', '\\');
  if (text.empty()) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (text.rfind("\\\\?\\", 0) == 0) {
    text = text.substr(4);
  } else if (text.rfind("\\\\", 0) == 0) {
    *error = kErrorBadNetPath;  // no network shares on this machine
    return false;
  }
  std::string result = NormalizedFullPath(text);
  for (size_t start = 3; start < result.size();) {
    size_t end = std::min(result.find('\\', start), result.size());
    if (!ValidComponent(result.substr(start, end - start))) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
    start = end + 1;
  }
  if (result.size() >= MAX_PATH) {
    *error = kErrorFilenameExcedRange;
    return false;
  }
  *full = result;
  return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, DWORD* error) {
  std::string full;
  if (!ResolvePath(path, &full, error)) return std::nullopt;
  std::lock_guard guard(Lock());
  const Entry* entry = FindLocked(full);
  if (entry && !entry->directory && (path.back() == '\\' || path.back() == '/')) {
    *error = ERROR_INVALID_NAME;  // "file\\" names a directory that a file cannot be
    return std::nullopt;
  }
  if (entry == nullptr) {
    *error = IsDirectoryLocked(ParentOf(full)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    return std::nullopt;
  }
  if (entry->directory) {
    *error = ERROR_ACCESS_DENIED;
    return std::nullopt;
  }
  return entry->contents;
}

bool WriteWholeFile(const std::string& path, const std::string& contents, DWORD* error) {
  std::string full;
  if (!ResolvePath(path, &full, error)) return false;
  std::lock_guard guard(Lock());
  if (!IsDirectoryLocked(ParentOf(full))) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  if (IsDirectoryLocked(full)) {
    *error = ERROR_ACCESS_DENIED;
    return false;
  }
  Entry& entry = State().entries[Lower(full)];
  if (entry.path.empty()) entry.path = full;  // a replaced file keeps its name's letter case
  entry.contents = contents;
  return true;
}

bool FileExists(const std::string& path) {
  DWORD error = 0;
  return ReadWholeFile(path, &error).has_value();
}

std::optional<std::vector<std::string>> FilesOfDirectory(const std::string& path, DWORD* error) {
  std::string full;
  if (!ResolvePath(path, &full, error)) return std::nullopt;
  std::lock_guard guard(Lock());
  const Entry* directory = FindLocked(full);
  if (directory == nullptr) {
    *error = ERROR_PATH_NOT_FOUND;
    return std::nullopt;
  }
  if (!directory->directory) {
    *error = kErrorDirectory;
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (const auto& [key, entry] : State().entries)
    if (!entry.directory && Lower(ParentOf(entry.path)) == Lower(full)) names.push_back(FileNamePart(entry.path));
  return InListingOrder(std::move(names));
}

std::string FileNamePart(const std::string& path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsBareName(const std::string& path) { return path.find_first_of("\\/:") == std::string::npos; }

bool IsFullPath(const std::string& path) {
  auto separator = [&](size_t i) { return i < path.size() && (path[i] == '\\' || path[i] == '/'); };
  return (HasDrive(path) && separator(2)) || (separator(0) && separator(1));
}

std::optional<std::string> ReadAnsiTextFile(const std::string& path, DWORD* error) {
  std::optional<std::string> bytes = ReadWholeFile(path, error);
  if (!bytes) return std::nullopt;
  return AnsiTextOf(*bytes);
}

std::vector<FileEntry> AllFileEntries() {
  std::lock_guard guard(Lock());
  std::vector<FileEntry> entries;
  for (const auto& [key, entry] : State().entries) entries.push_back({entry.path, entry.directory, entry.contents});
  return entries;
}

std::string CurrentDirectory() {
  std::lock_guard guard(Lock());
  return State().currentDirectory;
}

void RestoreFileEntries(const std::vector<FileEntry>& entries, const std::string& currentDirectory) {
  std::lock_guard guard(Lock());
  State() = FileSystem{};
  for (const FileEntry& entry : entries) State().entries[Lower(entry.path)] = {entry.path, entry.directory, entry.contents};
  State().currentDirectory = currentDirectory;
}

}  // namespace winsim::detail

namespace winsim {

using namespace detail;

void CreateDirectoryPath(const std::string& path) {
  std::string full = ResolveOrEmpty(path);
  std::lock_guard guard(Lock());
  CreateDirectoriesLocked(full);
}

void PutFile(const std::string& path, const std::string& contents) {
  std::string full = ResolveOrEmpty(path);
  if (full.empty()) return;
  {
    std::lock_guard guard(Lock());
    CreateDirectoriesLocked(ParentOf(full));
  }
  DWORD error = 0;
  WriteWholeFile(full, contents, &error);
}

std::optional<std::string> GetFile(const std::string& path) {
  DWORD error = 0;
  return ReadWholeFile(path, &error);
}

bool IsDirectoryPath(const std::string& path) {
  std::string full = ResolveOrEmpty(path);
  std::lock_guard guard(Lock());
  return !full.empty() && IsDirectoryLocked(full);
}

std::vector<std::string> DirectoryEntries(const std::string& path) {
  std::string full = ResolveOrEmpty(path);
  std::lock_guard guard(Lock());
  std::vector<std::string> names;
  for (const auto& [key, entry] : State().entries)
    if (!full.empty() && Lower(ParentOf(entry.path)) == Lower(full)) names.push_back(FileNamePart(entry.path));
  return InListingOrder(std::move(names));
}

void RemovePath(const std::string& path) {
  std::string key = Lower(ResolveOrEmpty(path));
  if (key.empty()) return;
  std::lock_guard guard(Lock());
  std::string below = key.back() == '\\' ? key : key + "\\";
  std::erase_if(State().entries, [&](const auto& item) { return item.first == key || item.first.rfind(below, 0) == 0; });
}

std::optional<std::string> StoredPath(const std::string& path) {
  std::string full = ResolveOrEmpty(path);
  std::lock_guard guard(Lock());
  const Entry* entry = full.empty() ? nullptr : FindLocked(full);
  if (entry == nullptr) return std::nullopt;
  return entry->path;
}

void SetCurrentDirectoryPath(const std::string& path) {
  std::string full = ResolveOrEmpty(path);
  std::lock_guard guard(Lock());
  if (const Entry* entry = FindLocked(full); entry && entry->directory) State().currentDirectory = entry->path;
}

std::string CurrentDirectoryPath() { return CurrentDirectory(); }

std::string WindowsDirectoryPath() { return "C:\\Windows"; }

std::string InfDirectoryPath() { return "C:\\Windows\\INF"; }

}  // namespace winsim

// The path made full against the current directory, as text: names are not checked, nothing
// need exist, and a trailing separator stays ("pkg\\" names a directory).
extern "C" DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
  using namespace winsim::detail;
  DWORD error = 0;
  if (ConsumeFault("GetFullPathNameA", &error)) {
    SetLastError(error);
    return 0;
  }
  if (lpFileName == nullptr || lpFileName[0] == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string full = NormalizedFullPath(lpFileName);
  const char lastChar = lpFileName[std::strlen(lpFileName) - 1];
  if ((lastChar == '\\' || lastChar == '/') && full.back() != '\\') full += '\\';
  if (lpBuffer == nullptr || full.size() + 1 > nBufferLength) return static_cast<DWORD>(full.size() + 1);
  std::memcpy(lpBuffer, full.c_str(), full.size() + 1);
  if (lpFilePart) *lpFilePart = full.back() == '\\' ? nullptr : lpBuffer + full.rfind('\\') + 1;
  return static_cast<DWORD>(full.size());
}
