// InstallOemInf and InstallOemInfs against the simulated driver store.
#include <doctest/doctest.h>

#include <string>

#include "setup/commands.h"
#include "setup/setup_support.h"
#include "support/machine.h"
#include "support/unicode_file.h"
#include "winsim/control.h"

using setup_testing::ModelsInf;

namespace {

std::vector<std::string> StoredSources() {
  std::vector<std::string> sources;
  for (const auto& entry : winsim::DriverStoreEntries()) sources.push_back(entry.sourcePath);
  return sources;
}

}  // namespace

TEST_CASE("InstallOemInf: 0 when copied, the copy's error code otherwise") {
  testing::Machine machine;
  winsim::PutFile("C:\\pkg\\a.inf", ModelsInf({}));
  winsim::PutFile("C:\\pkg\\notes.txt", "just text\r\n");
  winsim::SetCurrentDirectoryPath("C:\\pkg");
  struct Case {
    const char* inf;
    bool elevated;
    DWORD exitCode;
  } cases[] = {
      {"a.inf", true, 0},  // relative: made full against the current directory first
      {"C:\\pkg\\missing.inf", true, ERROR_FILE_NOT_FOUND},
      {"C:\\nodir\\a.inf", true, ERROR_PATH_NOT_FOUND},
      {"C:\\pkg\\notes.txt", true, ERROR_WRONG_INF_STYLE},  // no section, so no signature
      {"C:\\pkg\\a.inf", false, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.inf));
    winsim::SetCallerElevated(c.elevated);
    CHECK(devsetup::InstallOemInf(c.inf, ".") == c.exitCode);
  }
  // The driver store keeps full paths, which still mean something later.
  REQUIRE(winsim::DriverStoreEntries().size() == 1);
  CHECK(winsim::DriverStoreEntries()[0].sourcePath == "C:\\pkg\\a.inf");
  CHECK(winsim::DriverStoreEntries()[0].mediaLocation == "C:\\pkg");
  CHECK(winsim::GetFile("C:\\Windows\\INF\\oem0.inf") == ModelsInf({}));

  winsim::SetCallerElevated(true);
  winsim::FailCall("SetupCopyOEMInfA", 0xE0000235);  // any code, all 32 bits
  CHECK(devsetup::InstallOemInf("C:\\pkg\\a.inf", "C:\\pkg") == 0xE0000235);
  winsim::FailCall("SetupCopyOEMInfA", 0);  // a failure without a code is no success
  CHECK(devsetup::InstallOemInf("C:\\pkg\\a.inf", "C:\\pkg") == static_cast<DWORD>(E_FAIL));
}

TEST_CASE("InstallOemInfs copies every Windows-4 INF of the directory, in listing order") {
  testing::Machine machine;
  winsim::PutFile("C:\\pkg\\b.inf", ModelsInf({"b=Install,USB\\B"}));
  winsim::PutFile("C:\\pkg\\a.inf", ModelsInf({"a=Install,USB\\A"}));
  winsim::PutFile("C:\\pkg\\old.inf", "[Version]\r\nSignature=$Unknown$\r\n");
  winsim::PutFile("C:\\pkg\\readme.txt", "text");
  winsim::PutFile("C:\\pkg\\c.inf", testing::Utf16LeFile(ModelsInf({"c=Install,USB\\C"})));  // Unicode
  winsim::SetCurrentDirectoryPath("C:\\");
  CHECK(devsetup::InstallOemInfs("pkg") == 0);  // relative: made full against the current directory
  CHECK(StoredSources() == std::vector<std::string>{"C:\\pkg\\a.inf", "C:\\pkg\\b.inf", "C:\\pkg\\c.inf"});
  CHECK(winsim::DriverStoreEntries()[0].mediaLocation == "C:\\pkg");  // the directory, not the built path
  CHECK(devsetup::InstallOemInfs("C:\\pkg") == 0);                     // identical INFs are not copied twice
  CHECK(winsim::DriverStoreEntries().size() == 3);

  winsim::CreateDirectoryPath("C:\\empty");
  CHECK(devsetup::InstallOemInfs("C:\\empty") == 0);
  CHECK(winsim::DriverStoreEntries().size() == 3);
  CHECK(winsim::DebugOutput().empty());
}

TEST_CASE("InstallOemInfs stops at the first failing copy; earlier copies stay, later ones are not tried") {
  testing::Machine machine;
  for (const char* name : {"a.inf", "b.inf", "c.inf"})
    winsim::PutFile(std::string("C:\\pkg\\") + name, ModelsInf({std::string("m=Install,USB\\") + name}));
  winsim::ResetCallCounts();
  winsim::FailCall("SetupCopyOEMInfA", ERROR_ACCESS_DENIED, 1, 1);  // the second copy
  CHECK(devsetup::InstallOemInfs("C:\\pkg") == ERROR_ACCESS_DENIED);
  CHECK(StoredSources() == std::vector<std::string>{"C:\\pkg\\a.inf"});
  CHECK(setup_testing::Calls("SetupCopyOEMInfA") == 2);

  // A failure whose last error is 0 stops as well, with E_FAIL: it is no success.
  winsim::Reset();
  for (const char* name : {"a.inf", "b.inf"})
    winsim::PutFile(std::string("C:\\pkg\\") + name, ModelsInf({std::string("m=Install,USB\\") + name}));
  winsim::FailCall("SetupCopyOEMInfA", 0, 1);
  CHECK(devsetup::InstallOemInfs("C:\\pkg") == static_cast<DWORD>(E_FAIL));
  CHECK(StoredSources().empty());
}

TEST_CASE("InstallOemInfs: a listing that cannot be made or does not fit ends with 0xFFFFFFFF and copies nothing") {
  testing::Machine machine;
  // 26 names of 10 bytes each with its NUL: 261 bytes with the final NUL.
  for (char letter = 'a'; letter <= 'z'; ++letter)
    winsim::PutFile(std::string("C:\\many\\") + letter + "2345.inf", ModelsInf({std::string("m=I,USB\\") + letter}));
  winsim::ResetCallCounts();
  struct Case {
    const char* directory;
  } cases[] = {{"C:\\many"}, {"C:\\nodir"}};
  for (const Case& c : cases) {
    winsim::ClearDebugOutput();
    CHECK(devsetup::InstallOemInfs(c.directory) == 0xFFFFFFFF);
    CHECK(winsim::DebugOutput() == std::vector<std::string>{"SetupGetInfFileList() failed\n"});
  }
  CHECK(setup_testing::Calls("SetupCopyOEMInfA") == 0);
  CHECK(winsim::DriverStoreEntries().empty());

  winsim::RemovePath("C:\\many\\z2345.inf");  // 251 bytes: fits
  CHECK(devsetup::InstallOemInfs("C:\\many") == 0);
  CHECK(winsim::DriverStoreEntries().size() == 25);
}

TEST_CASE("InstallOemInfs: a trailing backslash doubles the separator; the media location is the argument") {
  testing::Machine machine;
  winsim::PutFile("C:\\pkg\\a.inf", ModelsInf({}));
  CHECK(devsetup::InstallOemInfs("C:\\pkg\\") == 0);
  REQUIRE(winsim::DriverStoreEntries().size() == 1);
  CHECK(winsim::DriverStoreEntries()[0].sourcePath == "C:\\pkg\\\\a.inf");
  CHECK(winsim::DriverStoreEntries()[0].mediaLocation == "C:\\pkg\\");
}

TEST_CASE("InstallOemInfs refuses a directory and name that would not fit 260 bytes, never writing past") {
  testing::Machine machine;
  // The directory is written with redundant ".\" pieces: short on disk, long as text.
  std::string directory = "C:\\pkg";
  while (directory.size() < 250) directory += "\\.";
  winsim::PutFile("C:\\pkg\\a.inf", ModelsInf({"a=I,USB\\A"}));
  winsim::PutFile("C:\\pkg\\b2345678901.inf", ModelsInf({"b=I,USB\\B"}));  // 250 + 1 + 15 + 1 > 260
  CHECK(devsetup::InstallOemInfs(directory.c_str()) == ERROR_FILENAME_EXCED_RANGE);
  CHECK(winsim::DriverStoreEntries().size() == 1);  // a.inf fitted and stays
}
