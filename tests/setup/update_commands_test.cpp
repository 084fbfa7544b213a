// UpdateDriverForPnpDev and UpdateDriverForModels against simulated devices and newdev.
#include <doctest/doctest.h>

#include <string>

#include "setup/commands.h"
#include "setup/full_path.h"
#include "setup/inf_reading.h"
#include "setup/setup_support.h"
#include "support/machine.h"
#include "support/unicode_file.h"
#include "winsim/control.h"

using namespace setup_testing;

namespace {

void PutPackageInf(const std::vector<std::string>& lines) { winsim::PutFile(kInf, ModelsInf(lines)); }

unsigned Installs(DEVINST device) { return winsim::ReadDeviceRecord(device)->installCount; }

}  // namespace

TEST_CASE("UpdateDriverForPnpDev: 0 installed, 2 restart needed, 1 no connected device has the id") {
  testing::Machine machine;
  PutPackageInf({"%Desc%=Install, USB\\VID_1A86&PID_0A3C&MI_00"});
  DEVINST device = AddUsbDevice("USB\\VID_1A86&PID_0A3C&MI_00\\1",
                                {"USB\\VID_1A86&PID_0A3C&REV_0100&MI_00", "USB\\VID_1A86&PID_0A3C&MI_00"}, true);
  AddUsbDevice("USB\\VID_1A86&PID_0A3D\\1", {"USB\\VID_1A86&PID_0A3D"}, false);

  CHECK(devsetup::UpdateDriverForPnpDev("usb\\vid_1a86&pid_0a3c&mi_00", kInf) == 0);  // ids ignore case
  auto record = winsim::ReadDeviceRecord(device);
  CHECK(record->installedInf == "oem0.inf");
  CHECK(record->installedFromInf == kInf);
  CHECK(record->installSection == "Install");

  winsim::SetRestartNeededAfterInstall(true);
  CHECK(devsetup::UpdateDriverForPnpDev("USB\\VID_1A86&PID_0A3C&MI_00", kInf) == 2);
  CHECK(devsetup::UpdateDriverForPnpDev("USB\\VID_1A86&PID_0A3D", kInf) == 1);  // only unplugged
  CHECK(devsetup::UpdateDriverForPnpDev("USB\\VID_FFFF&PID_FFFF", kInf) == 1);
  CHECK(Installs(device) == 2);

  // A relative INF path is made full against the current directory before the update gets it.
  winsim::SetCurrentDirectoryPath("C:\\pkg");
  winsim::SetRestartNeededAfterInstall(false);
  CHECK(devsetup::UpdateDriverForPnpDev("USB\\VID_1A86&PID_0A3C&MI_00", "tarrowin.inf") == 0);
  CHECK(winsim::ReadDeviceRecord(device)->installedFromInf == kInf);
}

TEST_CASE("UpdateDriverForPnpDev reports the update's own failure, never as a status") {
  testing::Machine machine;
  PutPackageInf({"%Desc%=Install, USB\\VID_1A86&PID_0A3C"});
  winsim::PutFile("C:\\pkg\\other.inf", ModelsInf({"%Desc%=Install, USB\\VID_0000&PID_0000"}));
  AddUsbDevice("USB\\VID_1A86&PID_0A3C\\1", {"USB\\VID_1A86&PID_0A3C"}, true);
  struct Case {
    const char* inf;
    std::optional<DWORD> injected;
    DWORD exitCode;
  } cases[] = {
      {"C:\\pkg\\other.inf", {}, ERROR_NO_COMPAT_DRIVERS},        // the INF has no model for the id
      {"C:\\pkg\\missing.inf", {}, 0x80070002},                    // ERROR_FILE_NOT_FOUND would read as 2
      {kInf, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {kInf, 1, 0x80070001},                                       // would read as "no device"
      {kInf, 0, static_cast<DWORD>(E_FAIL)},                       // would read as success
      {kInf, ERROR_NO_SUCH_DEVINST, 1},
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.inf));
    if (c.injected) winsim::FailCall("UpdateDriverForPlugAndPlayDevicesA", *c.injected);
    CHECK(devsetup::UpdateDriverForPnpDev("USB\\VID_1A86&PID_0A3C", c.inf) == c.exitCode);
  }
  // A last error left over from before a successful update means nothing.
  SetLastError(ERROR_NO_SUCH_DEVINST);
  CHECK(devsetup::UpdateDriverForPnpDev("USB\\VID_1A86&PID_0A3C", kInf) == 0);
}

TEST_CASE("UpdateDriverForModels: 0xDEADBEEF when the INF cannot be opened under its own class") {
  testing::Machine machine;
  const std::vector<std::string> lines = {"%Desc%=Install, USB\\A"};
  winsim::PutFile("C:\\pkg\\noclass.inf", ModelsInf(lines, ""));
  winsim::PutFile("C:\\pkg\\guidonly.inf", ModelsInf(lines, "ClassGUID={4d36e96c-e325-11ce-bfc1-08002be10318}"));
  winsim::PutFile("C:\\pkg\\classnull.inf", ModelsInf(lines, "Class=NULL"));
  // The profile reader sees "%Cls%", SetupAPI the substituted "MEDIA": they differ.
  winsim::PutFile("C:\\pkg\\stringclass.inf", ModelsInf(lines, "Class=%Cls%\r\n[Strings]\r\nCls=MEDIA"));
  winsim::PutFile("C:\\pkg\\oldstyle.inf", "[Version]\r\nSignature=$Unknown$\r\nClass=MEDIA\r\n");
  // The profile reader returns the comment with the value; the class is the value alone.
  winsim::PutFile("C:\\pkg\\comment.inf", ModelsInf(lines, "Class=MEDIA ; the class"));
  winsim::PutFile("C:\\pkg\\quoted.inf", ModelsInf(lines, "Class = \"MEDIA\"\t; quoted"));
  winsim::SetCurrentDirectoryPath("C:\\pkg");
  winsim::PutFile("C:\\pkg\\unicode.inf", testing::Utf16LeFile(ModelsInf(lines)));
  struct Case {
    const char* inf;
    bool opens;
  } cases[] = {
      {"comment.inf", true},  // relative: made full, not looked for in the Windows folders
      {"C:\\pkg\\quoted.inf", true},
      {"C:\\pkg\\noclass.inf", false},  // opened with the class "NULL", which it does not declare
      {"C:\\pkg\\guidonly.inf", false},
      {"C:\\pkg\\classnull.inf", true},
      {"C:\\pkg\\stringclass.inf", false},
      {"C:\\pkg\\oldstyle.inf", false},
      {"C:\\pkg\\missing.inf", false},
      {"C:\\pkg\\unicode.inf", true},  // UTF-16LE: the profile reader and SetupAPI both read it
  };
  for (const Case& c : cases) {
    CAPTURE(std::string(c.inf));
    CHECK(static_cast<bool>(devsetup::OpenInfOfOwnClass(devsetup::FullPath(c.inf).c_str())) == c.opens);
    CHECK(devsetup::UpdateDriverForModels(c.inf, kModels) == (c.opens ? 0 : 0xDEADBEEF));
  }
}

TEST_CASE("UpdateDriverForModels: absent or empty section, devices found or not, restart not reported") {
  testing::Machine machine;
  PutPackageInf({"%Desc%=Install, USB\\A", "%Desc%=Install, USB\\B"});
  winsim::PutFile("C:\\pkg\\empty.inf", ModelsInf({}));
  CHECK(devsetup::UpdateDriverForModels(kInf, "Absent") == 0xE000020B);
  CHECK(devsetup::UpdateDriverForModels("C:\\pkg\\empty.inf", kModels) == 0xE000020B);
  CHECK(devsetup::UpdateDriverForModels(kInf, kModels) == 0);  // no line finds a device

  DEVINST b = AddUsbDevice("USB\\B\\1", {"USB\\B"}, true);
  winsim::SetRestartNeededAfterInstall(true);
  CHECK(devsetup::UpdateDriverForModels(kInf, "models.ntamd64") == 0);  // section names ignore case
  CHECK(Installs(b) == 1);
  winsim::PutFile("C:\\pkg\\unicode.inf", testing::Utf16LeFile(ModelsInf({"%Desc%=Install, USB\\B"})));
  CHECK(devsetup::UpdateDriverForModels("C:\\pkg\\unicode.inf", kModels) == 0);
  CHECK(Installs(b) == 2);
  CHECK(SetupGetLineCountA(nullptr, kModels) == -1);  // the fixture checks that no INF stayed open
}

TEST_CASE("UpdateDriverForModels stops at the first failure other than ERROR_NO_SUCH_DEVINST") {
  struct Case {
    DWORD error;  // of the second line's update
    DWORD exitCode;
  } cases[] = {
      {0xE000022B, 0xE000022B},
      {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {0, static_cast<DWORD>(E_FAIL)},  // a failure without a code is no success
  };
  for (const Case& c : cases) {
    CAPTURE(c.error);
    testing::Machine machine;
    PutPackageInf({"%Desc%=Install, USB\\A", "%Desc%=Install, USB\\B", "%Desc%=Install, USB\\C"});
    DEVINST a = AddUsbDevice("USB\\A\\1", {"USB\\A"}, true);
    DEVINST deviceC = AddUsbDevice("USB\\C\\1", {"USB\\C"}, true);
    winsim::ResetCallCounts();
    winsim::FailCall("UpdateDriverForPlugAndPlayDevicesA", c.error, 1, 1);
    CHECK(devsetup::UpdateDriverForModels(kInf, kModels) == c.exitCode);
    CHECK(Calls("UpdateDriverForPlugAndPlayDevicesA") == 2);
    CHECK(Installs(a) == 1);   // stays installed
    CHECK(Installs(deviceC) == 0);  // never tried
  }
}

TEST_CASE("UpdateDriverForModels passes over lines without a readable, non-empty model id") {
  testing::Machine machine;
  PutPackageInf({
      "%Desc%=Install, USB\\A",
      "%Desc%=Install, USB\\" + std::string(300, 'L'),  // longer than the 260-byte buffer
      "%Desc%=Install,",                                   // empty
      "%Desc%=Install",                                    // no field 2
      "%Desc%=Install, USB\\B",
      "%Desc%=Install, USB\\VID_1A86&PID_0A3C \\\r\n    &MI_00",  // continued: one id, no blanks inside
  });
  DEVINST a = AddUsbDevice("USB\\A\\1", {"USB\\A"}, true);
  DEVINST b = AddUsbDevice("USB\\B\\1", {"USB\\B"}, true);
  DEVINST continued = AddUsbDevice("USB\\VID_1A86&PID_0A3C&MI_00\\1", {"USB\\VID_1A86&PID_0A3C&MI_00"}, true);
  winsim::ResetCallCounts();
  CHECK(devsetup::UpdateDriverForModels(kInf, kModels) == 0);
  CHECK(Calls("UpdateDriverForPlugAndPlayDevicesA") == 3);
  CHECK(Installs(a) == 1);  // never again with the previous line's id
  CHECK(Installs(b) == 1);
  CHECK(Installs(continued) == 1);
}
