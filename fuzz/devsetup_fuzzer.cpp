// Fuzzes what devsetup reads: INF files (their names and contents, which also make up the
// directory that InstallOemInfs lists), the hardware-id lists of USB device records (raw
// REG_MULTI_SZ bytes, possibly unterminated, of any length) and the command's own arguments,
// driven through each row of the command table. Any crash, sanitizer report, leaked handle,
// hang, exit code the command cannot give, or device record changed in a way the command may
// not change it is a finding.
//
// Input (fuzz_input.h): control bytes
//   0  the command row (mod 6, table order)
//   1  bit 0 caller not elevated, 1 restart needed after an install, 2 an installation pending,
//      bits 3-4 the INF path (C:\pkg\<first file>, pkg\<first file>, the bare name,
//      a missing file), bits 5-6 the directory (C:\pkg, C:\pkg\, the argument, a missing one),
//      bit 7 the argument as source media location (else C:\pkg)
//   2  the number of device records (mod 5)
//   3+ per device: bit 0 unplugged, 1 another enumerator than USB, 2 the list stored as
//      REG_BINARY, 3 no config flags, 4 config flags of 2 bytes, 5 CONFIGFLAG_REINSTALL already
//      set, 6 the same list as compatible ids
// then the parts: the argument (hardware id or models section), one hardware-id list per
// device, then pairs of file name and contents, put in C:\pkg (an empty first name is
// tarrowin.inf).
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "setup/dispatch.h"
#include "setup/full_path.h"
#include "winsim/control.h"
#include "winsim/control_device_records.h"
#include "winsim/control_files.h"
#include "winsim/sdk.h"

namespace {

using fuzzing::PartedInput;

enum Row { kPnpDev, kModels, kOemInf, kOemInfs, kReinstall, kPending, kRowCount };
const char* const kWords[] = {"UpdateDriverForPnpDev", "UpdateDriverForModels", "InstallOemInf", "InstallOemInfs",
                              "ReinstallDriverForUnpluggedModels", "CheckPendingInstallEvents"};

constexpr DWORD kReinstallFlag = 0x20;  // CONFIGFLAG_REINSTALL
constexpr DWORD kInfNotOpened = 0xDEADBEEF;
constexpr DWORD kReinstallSectionEmpty = 0xDEADFACE;
constexpr DWORD kListingFailed = 0xFFFFFFFF;
const char kPackageDirectory[] = "C:\\pkg";
const char kListingMessage[] = "SetupGetInfFileList() failed\n";

[[noreturn]] void Fail(const std::string& what) { fuzzing::Finding("devsetup", what); }

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(value));
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return text;
}

// A name Windows can give a file: no separators, wildcards or control characters, and no
// trailing dots or blanks (Windows strips them).
std::string FileName(const std::string& part, size_t index) {
  std::string name;
  for (unsigned char c : part)
    if (c >= 0x20 && std::strchr("<>:\"/\\|?*", c) == nullptr) name.push_back(static_cast<char>(c));
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (!name.empty()) return name;
  return index == 0 ? "tarrowin.inf" : "n" + std::to_string(index) + ".inf";
}

struct Machine {
  std::string argument;
  std::vector<DEVINST> devices;
  std::string firstFile;
  bool restartNeeded = false;
  bool pending = false;
};

void AddDevice(PartedInput& in, size_t index, Machine* machine) {
  const size_t control = 3 + index;
  winsim::DeviceRecordDesc desc;
  desc.instanceId = (in.Bit(control, 1) ? "HID\\VID_1A86&PID_0A3C\\" : "USB\\VID_1A86&PID_0A3C\\") + std::to_string(index);
  desc.present = !in.Bit(control, 0);
  desc.configFlags = in.Bit(control, 5) ? kReinstallFlag | 0x1 : 0x1;  // CONFIGFLAG_DISABLED beside it
  if (in.Bit(control, 3)) desc.configFlags.reset();
  DEVINST device = winsim::AddDeviceRecord(desc);
  std::string ids = in.Next();
  std::vector<BYTE> bytes(ids.begin(), ids.end());
  winsim::SetDeviceRecordProperty(device, SPDRP_HARDWAREID, in.Bit(control, 2) ? REG_BINARY : REG_MULTI_SZ, bytes);
  if (in.Bit(control, 6)) winsim::SetDeviceRecordProperty(device, SPDRP_COMPATIBLEIDS, REG_MULTI_SZ, bytes);
  if (in.Bit(control, 4)) winsim::SetDeviceRecordProperty(device, SPDRP_CONFIGFLAGS, REG_DWORD, {0x20, 0x00});
  machine->devices.push_back(device);
}

Machine BuildMachine(PartedInput& in) {
  Machine machine;
  winsim::SetCallerElevated(!in.Bit(1, 0));
  machine.restartNeeded = in.Bit(1, 1);
  winsim::SetRestartNeededAfterInstall(machine.restartNeeded);
  machine.pending = in.Bit(1, 2);
  winsim::SetPendingInstalls(machine.pending ? 1 : 0);
  machine.argument = PartedInput::Argument(in.Next());
  for (size_t i = 0, count = in.Control(2) % 5; i < count; ++i) AddDevice(in, i, &machine);
  winsim::CreateDirectoryPath(kPackageDirectory);
  for (size_t i = 0; in.HasNext() && i < 8; ++i) {
    std::string name = FileName(in.Next(), i);
    winsim::PutFile(std::string(kPackageDirectory) + "\\" + name, in.Next());
    if (i == 0) machine.firstFile = name;
  }
  if (machine.firstFile.empty()) machine.firstFile = "tarrowin.inf";
  return machine;
}

struct Arguments {
  std::string infPath;
  std::string directory;
  std::string media;
};

Arguments ArgumentsOf(const PartedInput& in, const Machine& machine) {
  Arguments args;
  const std::string inPackage = std::string(kPackageDirectory) + "\\" + machine.firstFile;
  const std::string infPaths[] = {inPackage, "pkg\\" + machine.firstFile, machine.firstFile, "C:\\pkg\\missing.inf"};
  args.infPath = infPaths[(in.Control(1) >> 3) & 3];
  const std::string directories[] = {kPackageDirectory, std::string(kPackageDirectory) + "\\", machine.argument,
                                     "C:\\nodir"};
  args.directory = directories[(in.Control(1) >> 5) & 3];
  args.media = in.Bit(1, 7) ? machine.argument : kPackageDirectory;
  return args;
}

std::vector<std::string> CommandLine(Row row, const Arguments& args, const std::string& argument) {
  std::vector<std::string> argv = {"devsetup.exe", kWords[row]};
  switch (row) {
    case kPnpDev: return {argv[0], argv[1], argument, args.infPath};
    case kModels:
    case kReinstall: return {argv[0], argv[1], args.infPath, argument};
    case kOemInf: return {argv[0], argv[1], args.infPath, args.media};
    case kOemInfs: return {argv[0], argv[1], args.directory};
    default: return argv;
  }
}

DWORD Run(std::vector<std::string> argv) {
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return static_cast<DWORD>(devsetup::RunCommandLine(static_cast<int>(argv.size()), pointers.data()));
}

std::vector<winsim::DeviceRecordState> Records(const Machine& machine) {
  std::vector<winsim::DeviceRecordState> states;
  for (DEVINST device : machine.devices) states.push_back(*winsim::ReadDeviceRecord(device));
  return states;
}

// The config flags a command may leave: the same, or with CONFIGFLAG_REINSTALL added when it
// may mark the device (an unreadable value may stay as it is or start from 0).
bool FlagsAllowed(const std::optional<DWORD>& before, const std::optional<DWORD>& after, bool mayMark) {
  if (after == before) return true;
  if (!mayMark || !after) return false;
  return before ? *after == (*before | kReinstallFlag) : *after == kReinstallFlag;
}

// Returns whether any device got a driver installed.
bool CheckRecords(const std::vector<winsim::DeviceRecordState>& before,
                  const std::vector<winsim::DeviceRecordState>& after, Row row) {
  bool installed = false;
  for (size_t i = 0; i < before.size(); ++i) {
    const winsim::DeviceRecordState& was = before[i];
    const winsim::DeviceRecordState& is = after[i];
    if (is.hardwareIds != was.hardwareIds) Fail("a device's hardware ids changed");
    if (!FlagsAllowed(was.configFlags, is.configFlags, row == kReinstall && !was.present))
      Fail("a device's config flags changed in a way the command may not change them");
    if (is.installCount == was.installCount) continue;
    if (!was.present) Fail("a driver was installed on an unplugged device");
    if (row != kPnpDev && row != kModels) Fail("a command that installs no driver installed one");
    installed = true;
  }
  return installed;
}

bool AnyPresentDeviceHasId(const std::vector<winsim::DeviceRecordState>& records, const std::string& id) {
  for (const winsim::DeviceRecordState& record : records)
    for (const std::string& own : record.hardwareIds)
      if (record.present && Lower(own) == Lower(id)) return true;
  return false;
}

std::vector<std::string> ListedInfs(const std::string& directory, bool* listed, DWORD* required) {
  std::vector<char> list(1 << 16, '\0');
  *required = 0;
  *listed = SetupGetInfFileListA(directory.c_str(), INF_STYLE_WIN4, list.data(), static_cast<DWORD>(list.size()),
                                 required);
  std::vector<std::string> names;
  for (const char* name = list.data(); *listed && *name != '\0'; name += std::strlen(name) + 1) names.push_back(name);
  return names;
}

bool Published(const std::string& path) {
  std::optional<std::string> contents = winsim::GetFile(path);
  if (!contents) return false;
  for (const winsim::DriverStoreEntry& entry : winsim::DriverStoreEntries())
    if (winsim::GetFile(winsim::InfDirectoryPath() + "\\" + entry.publishedName) == contents) return true;
  return false;
}

void CheckInstallOemInfs(DWORD code, const std::string& directory) {
  bool listed = false;
  DWORD required = 0;
  std::vector<std::string> names = ListedInfs(directory, &listed, &required);
  const bool listingFails = !listed || required > MAX_PATH;
  std::vector<std::string> output = winsim::DebugOutput();
  if (listingFails != (code == kListingFailed)) Fail("InstallOemInfs: " + Hex(code) + " for this listing");
  if (listingFails) {
    if (output != std::vector<std::string>{kListingMessage}) Fail("InstallOemInfs: the listing message is not written");
    if (!winsim::DriverStoreEntries().empty()) Fail("InstallOemInfs: a copy after the listing failed");
    return;
  }
  if (!output.empty()) Fail("InstallOemInfs wrote debugger output after a listing that worked");
  for (const winsim::DriverStoreEntry& entry : winsim::DriverStoreEntries()) {
    if (entry.mediaLocation != directory) Fail("InstallOemInfs: the media location is not the directory");
    bool ofListing = false;
    for (const std::string& name : names) ofListing |= entry.sourcePath == directory + "\\" + name;
    if (!ofListing) Fail("InstallOemInfs copied a file that is not of the listing: " + entry.sourcePath);
  }
  if (code == 0)
    for (const std::string& name : names)
      if (!Published(directory + "\\" + name)) Fail("InstallOemInfs ended with 0 but did not copy " + name);
}

void CheckCode(Row row, DWORD code, const Machine& machine, const Arguments& args,
               const std::vector<winsim::DeviceRecordState>& before, bool installed) {
  const std::string what = std::string(kWords[row]) + " ended with " + Hex(code);
  switch (row) {
    case kPnpDev:
      if ((code == 0 || code == 2) != installed) Fail(what + (installed ? " after installing" : " without installing"));
      if (code == 2 && !machine.restartNeeded) Fail(what + " though no restart is needed");
      if (code == 1 && AnyPresentDeviceHasId(before, machine.argument)) Fail(what + " though a device has the id");
      break;
    case kModels:
      if (code == kReinstallSectionEmpty || code == kListingFailed) Fail(what);
      if ((code == kInfNotOpened || code == ERROR_NO_SUCH_DEVINST) && installed) Fail(what + " after installing");
      break;
    case kOemInf: {
      std::vector<winsim::DriverStoreEntry> store = winsim::DriverStoreEntries();
      if ((code == 0) != (store.size() == 1) || store.size() > 1) Fail(what + " for this driver store");
      // Relative paths reach Windows made full; full ones as given.
      if (code == 0 && (store[0].sourcePath != devsetup::FullPath(args.infPath.c_str()).c_str() ||
                        store[0].mediaLocation != devsetup::FullPath(args.media.c_str()).c_str()))
        Fail(what + " but the copy's source or media location is not the one given");
      break;
    }
    case kOemInfs:
      CheckInstallOemInfs(code, devsetup::FullPath(args.directory.c_str()).c_str());
      break;
    case kReinstall:
      if (code != 0 && code != kInfNotOpened && code != kReinstallSectionEmpty) Fail(what);
      break;
    default:
      if (code != (machine.pending ? 1u : 0u)) Fail(what);
      break;
  }
  if (row != kOemInfs && !winsim::DebugOutput().empty()) Fail(what + " and wrote debugger output");
  if (row != kOemInf && row != kOemInfs && row != kPnpDev && row != kModels && !winsim::DriverStoreEntries().empty())
    Fail(what + " and changed the driver store");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PartedInput in(data, size);
  winsim::Reset();
  const Row row = static_cast<Row>(in.Control(0) % kRowCount);
  Machine machine = BuildMachine(in);
  const Arguments args = ArgumentsOf(in, machine);
  const std::vector<winsim::DeviceRecordState> before = Records(machine);

  DWORD code = Run(CommandLine(row, args, machine.argument));

  if (winsim::LiveHandleCount() != 0) Fail(std::string(kWords[row]) + " leaked a handle");
  bool installed = CheckRecords(before, Records(machine), row);
  CheckCode(row, code, machine, args, before, installed);
  return 0;
}
