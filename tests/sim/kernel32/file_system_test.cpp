// The simulated file system's Windows path rules, through the control API and the profile reader.
#include <doctest/doctest.h>

#include <string>

#include "support/machine.h"
#include "winsim/control_files.h"

TEST_CASE("Windows paths: drives, separators, letter case, relative paths") {
  testing::Machine machine;
  winsim::PutFile("C:\\Pkg\\Drivers\\Tarrowin.inf", "x");
  winsim::CreateDirectoryPath("C:\\Work\\Sub");
  winsim::SetCurrentDirectoryPath("c:\\work\\sub");
  CHECK(winsim::CurrentDirectoryPath() == "C:\\Work\\Sub");

  struct Case {
    const char* path;
    bool found;
  } cases[] = {
      {"C:\\Pkg\\Drivers\\Tarrowin.inf", true},
      {"c:\\pkg\\DRIVERS\\tarrowin.INF", true},     // names ignore letter case
      {"C:/Pkg/Drivers/Tarrowin.inf", true},        // forward slashes are separators
      {"C:\\Pkg\\\\Drivers\\Tarrowin.inf", true},   // a doubled separator is one
      {"C:\\Pkg\\Other\\..\\Drivers\\.\\Tarrowin.inf", true},
      {"..\\..\\Pkg\\Drivers\\Tarrowin.inf", true},  // against C:\Work\Sub
      {"\\Pkg\\Drivers\\Tarrowin.inf", true},        // the current drive's root
      {"C:..\\..\\Pkg\\Drivers\\Tarrowin.inf", true},  // drive-relative, same drive
      {"C:\\Pkg\\Drivers\\Tarrowin.inf. .", true},  // the last name's trailing dots and blanks go
      {"Pkg\\Drivers\\Tarrowin.inf", false},         // relative to the current directory
      {"D:\\Pkg\\Drivers\\Tarrowin.inf", false},
      {"C:\\Pkg\\Drivers\\Tarrowin.inf\\", false},   // names a directory
      {"C:\\Pkg\\Drivers\\Tarr?win.inf", false},
      {"\\\\server\\share\\Tarrowin.inf", false},
      {"", false},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.path));
    CHECK(winsim::GetFile(c.path).has_value() == c.found);
  }
  CHECK(winsim::StoredPath("c:\\pkg\\drivers\\TARROWIN.inf") == "C:\\Pkg\\Drivers\\Tarrowin.inf");
}

TEST_CASE("directories list their files in name order and keep the names' letter case") {
  testing::Machine machine;
  winsim::PutFile("C:\\d\\b.inf", "");
  winsim::PutFile("C:\\d\\A.inf", "");
  winsim::PutFile("C:\\d\\sub\\c.inf", "");
  winsim::PutFile("C:\\d\\B.INF", "replaced");  // same file: keeps its first name
  winsim::PutFile("C:\\d\\a_b.inf", "");
  winsim::PutFile("C:\\d\\ab.inf", "");
  // Upper-cased, as NTFS collates: '_' sorts after the letters.
  CHECK(winsim::DirectoryEntries("C:\\d") == std::vector<std::string>{"A.inf", "ab.inf", "a_b.inf", "b.inf", "sub"});
  CHECK(winsim::GetFile("C:\\d\\b.inf") == "replaced");
  CHECK(winsim::IsDirectoryPath("c:\\D\\SUB"));
  winsim::RemovePath("C:\\d");
  CHECK_FALSE(winsim::GetFile("C:\\d\\sub\\c.inf").has_value());
  CHECK(winsim::IsDirectoryPath(winsim::InfDirectoryPath()));  // a fresh machine's folders stay
}

TEST_CASE("a full path of MAX_PATH characters or more names no file") {
  testing::Machine machine;
  std::string directory = "C:\\" + std::string(240, 'd');
  winsim::CreateDirectoryPath(directory);
  std::string fits = directory + "\\" + std::string(259 - directory.size() - 1, 'f');  // 259 characters
  winsim::PutFile(fits, "x");
  CHECK(winsim::GetFile(fits) == "x");
  CHECK_FALSE(winsim::GetFile(fits + "g").has_value());
}
