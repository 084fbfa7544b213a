// How a probe lays out the files it then observes the calls on: Win32 file calls in the Windows
// build, the simulated file system's control API natively (the simulator models no file writes).
// Setting up only; what a probe prints comes from the calls under test.
#pragma once

#include <string>

#include "platform/win32.h"
#include "tests/support/unicode_file.h"
#ifndef _WIN32
#include "winsim/control_files.h"
#endif

namespace probe {

// Writes a file (creating its directory, one level below an existing one).
inline void PutFile(const std::string& directory, const std::string& name, const std::string& bytes) {
  std::string path = directory + "\\" + name;
#ifdef _WIN32
  CreateDirectoryA(directory.c_str(), NULL);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
  CloseHandle(file);
#else
  winsim::PutFile(path, bytes);
#endif
}

inline void RemoveFile(const std::string& path) {
#ifdef _WIN32
  DeleteFileA(path.c_str());
#else
  winsim::RemovePath(path);
#endif
}

inline void ChangeDirectory(const std::string& path) {
#ifdef _WIN32
  SetCurrentDirectoryA(path.c_str());
#else
  winsim::SetCurrentDirectoryPath(path);
#endif
}

}  // namespace probe
