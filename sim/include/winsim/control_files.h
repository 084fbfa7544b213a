// Control API of the simulated file system: how tests put INF files and directories where the
// device installation calls read them, and read back what those calls wrote. Not part of
// Windows. Paths are Windows paths ("C:\\pkg\\driver.inf", "pkg\\driver.inf", "\\pkg"):
// drive letters, '\' or '/' as separators, names compared without regard to letter case,
// relative paths against the current directory. A fresh machine has C:\, C:\Windows,
// C:\Windows\INF and C:\Windows\System32, and C:\ as its current directory.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace winsim {

// Creates the directory and every missing parent; a drive root ("D:\\") adds a drive.
void CreateDirectoryPath(const std::string& path);
// Writes a file (replacing one of the same name), creating missing parent directories.
void PutFile(const std::string& path, const std::string& contents);
// The file's contents, or nothing when there is no such file.
std::optional<std::string> GetFile(const std::string& path);
bool IsDirectoryPath(const std::string& path);
// The names in a directory (no directory part), in the order a listing gives them.
std::vector<std::string> DirectoryEntries(const std::string& path);
// Removes a file, or a directory with everything below it.
void RemovePath(const std::string& path);
// The full path of an existing entry with the letter case it was created with.
std::optional<std::string> StoredPath(const std::string& path);

void SetCurrentDirectoryPath(const std::string& path);
std::string CurrentDirectoryPath();

// "C:\\Windows" and "C:\\Windows\\INF" (the system INF folder and the driver store).
std::string WindowsDirectoryPath();
std::string InfDirectoryPath();

}  // namespace winsim
