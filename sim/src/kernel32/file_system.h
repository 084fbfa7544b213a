// The simulated file system as the device installation calls see it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kernel32/codepage.h"
#include "winsim/sdk/minwindef.h"

namespace winsim::detail {

// Win32 errors the path rules produce, beside those of base_types.h.
constexpr DWORD kErrorBadNetPath = 53;
constexpr DWORD kErrorFilenameExcedRange = 206;
constexpr DWORD kErrorDirectory = 267;

// The full form of a path as Windows normalizes it, as text (GetFullPathNameA): joined with the
// current directory or drive, '/' read as '\\', separators collapsed, '.' and '..' applied, the
// last name's trailing dots and blanks dropped. Names are not checked; "\\\\server\\share" and
// "\\\\?\\" keep their prefix. Empty for an empty path.
std::string NormalizedFullPath(const std::string& path);

// Resolves a path for the file calls: NormalizedFullPath ("C:\\Dir\\File.inf", "C:\\" for a
// root), with its names checked. Fails with
// ERROR_PATH_NOT_FOUND (empty), ERROR_INVALID_NAME (bad characters), ERROR_BAD_NETPATH (UNC)
// or ERROR_FILENAME_EXCED_RANGE (a full path of MAX_PATH characters or more).
bool ResolvePath(const std::string& path, std::string* full, DWORD* error);

// A file's contents; on failure ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND (no parent
// directory), ERROR_ACCESS_DENIED (a directory) or a resolution error.
std::optional<std::string> ReadWholeFile(const std::string& path, DWORD* error);
// A text file's contents as the ANSI calls read them (see AnsiTextOf); errors as ReadWholeFile.
std::optional<std::string> ReadAnsiTextFile(const std::string& path, DWORD* error);
// Creates or replaces a file whose parent directory exists.
bool WriteWholeFile(const std::string& path, const std::string& contents, DWORD* error);
bool FileExists(const std::string& path);

// The names of the files (not directories) of a directory, in listing order (NTFS collates
// names upper-cased: "a.inf", "ab.inf", "a_b.inf", "B.INF"); ERROR_PATH_NOT_FOUND or ERROR_DIRECTORY on failure.
std::optional<std::vector<std::string>> FilesOfDirectory(const std::string& path, DWORD* error);

// The last component of a path ("x.inf" of "C:\\d\\x.inf"), and whether the path names
// no directory at all (no separator and no drive).
std::string FileNamePart(const std::string& path);
bool IsBareName(const std::string& path);
// A path that does not depend on the current directory or drive: "C:\\x" or "\\\\server\\x".
bool IsFullPath(const std::string& path);

// One entry as a separate process sees it (see machine_file.cpp).
struct FileEntry {
  std::string path;  // full path as created
  bool directory = false;
  std::string contents;
};
std::vector<FileEntry> AllFileEntries();
std::string CurrentDirectory();
void RestoreFileEntries(const std::vector<FileEntry>& entries, const std::string& currentDirectory);

}  // namespace winsim::detail
