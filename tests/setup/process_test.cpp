// devsetup as the installer sees it: a separate process whose exit code and standard output
// are all there is. The process reaches the simulated machine through a machine file.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "setup/setup_support.h"
#include "support/machine.h"
#include "support/unicode_file.h"
#include "winsim/machine_file.h"

namespace {

winsim::ProcessRun RunDevsetup(const std::vector<std::string>& arguments) {
  std::vector<std::string> command;
  for (const char* part : {DEVSETUP_LAUNCHER})
    if (*part) command.push_back(part);
  command.push_back(DEVSETUP_PROGRAM);
  command.insert(command.end(), arguments.begin(), arguments.end());
  winsim::ProcessRun run = winsim::RunProcessOnMachine(command);
  REQUIRE(run.started);
  return run;
}

}  // namespace

TEST_CASE("an invalid command line: one line on standard output, nothing on standard error, exit 0") {
  testing::Machine machine;
  for (const std::vector<std::string>& line :
       {std::vector<std::string>{}, {"installoeminf", "a.inf", "C:\\"}, {"CheckPendingInstallEvents", "now"}}) {
    winsim::ProcessRun run = RunDevsetup(line);
    CHECK(run.standardOutput == "invalid arguments!\n");
    CHECK(run.standardError.empty());
    CHECK(run.debugOutput.empty());
    CHECK(run.exitCode == 0u);
    CHECK(run.hostStatus == 0);
  }
}

TEST_CASE("the process's exit code carries all 32 bits; the host sees only the low 8") {
  testing::Machine machine;
  winsim::PutFile("C:\\pkg\\tarrowin.inf", setup_testing::ModelsInf({"%Desc%=Install, USB\\A"}));
  winsim::PutFile("C:\\pkg\\unicode.inf", testing::Utf16LeFile(setup_testing::ModelsInf({"%Desc%=Install, USB\\A"})));
  struct Case {
    std::vector<std::string> arguments;
    uint32_t exitCode;
  } cases[] = {
      {{"ReinstallDriverForUnpluggedModels", "C:\\pkg\\missing.inf", "Models.NTamd64"}, 0xDEADBEEF},
      {{"ReinstallDriverForUnpluggedModels", "C:\\pkg\\tarrowin.inf", "Absent"}, 0xDEADFACE},
      {{"UpdateDriverForModels", "C:\\pkg\\tarrowin.inf", "Absent"}, 0xE000020B},
      {{"UpdateDriverForModels", "C:\\pkg\\unicode.inf", "Absent"}, 0xE000020B},  // opened: UTF-16LE is read
      {{"InstallOemInf", "C:\\pkg\\missing.inf", "C:\\pkg"}, ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    CAPTURE(c.arguments[0]);
    winsim::ProcessRun run = RunDevsetup(c.arguments);
    CHECK(run.exitCode == c.exitCode);
    CHECK(run.hostStatus == static_cast<int>(c.exitCode & 0xFF));
    CHECK(run.standardOutput.empty());
    CHECK(run.standardError.empty());
  }
}

TEST_CASE("what the process did to the machine is there when it has ended") {
  testing::Machine machine;
  winsim::PutFile("C:\\pkg\\tarrowin.inf", setup_testing::ModelsInf({"%Desc%=Install, USB\\VID_0001&PID_0002"}));
  DEVINST unplugged = setup_testing::AddUsbDevice("USB\\VID_0001&PID_0002\\5&1", {"USB\\VID_0001&PID_0002&REV_0001"},
                                                  false, CONFIGFLAG_DISABLED);
  CHECK(RunDevsetup({"InstallOemInfs", "C:\\pkg"}).exitCode == 0u);
  REQUIRE(winsim::DriverStoreEntries().size() == 1);
  CHECK(winsim::DriverStoreEntries()[0].sourcePath == "C:\\pkg\\tarrowin.inf");

  CHECK(RunDevsetup({"ReinstallDriverForUnpluggedModels", "C:\\pkg\\tarrowin.inf", "Models.NTamd64"}).exitCode == 0u);
  CHECK(winsim::ReadDeviceRecord(unplugged)->configFlags == (CONFIGFLAG_DISABLED | CONFIGFLAG_REINSTALL));

  winsim::ProcessRun listing = RunDevsetup({"InstallOemInfs", "C:\\nodir"});
  CHECK(listing.exitCode == 0xFFFFFFFFu);
  CHECK(listing.debugOutput == std::vector<std::string>{"SetupGetInfFileList() failed\n"});
  CHECK(listing.standardOutput.empty());
  CHECK(listing.standardError.empty());

  winsim::SetPendingInstalls(1);
  CHECK(RunDevsetup({"CheckPendingInstallEvents"}).exitCode == 1u);
}
