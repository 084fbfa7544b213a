// Fuzzes what classhook reads: the class's co-installer list value (its bytes and type), the
// rundll32 command line that names it, the module's own path, and the INF marker of each
// compatible driver, driven through the three registration exports and the entry point of
// classhook.dll loaded as the device installer and rundll32 load it. Any crash, sanitizer
// report, leaked handle, hang, or list or driver ranking other than the one the call must
// leave is a finding.
//
// Input (fuzz_input.h): control bytes
//   0  bits 0-1 the first call (Register, Unregister, UnregisterOld, the entry point),
//      bits 2-4 a second call after it (0 none, 1-4 as above)
//   1  bits 0-2 the value's type (REG_MULTI_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD,
//      REG_NONE, REG_QWORD, 0x4D2), bit 3 no such value, bit 4 no CoDeviceInstallers key,
//      bit 5 the key readable only, bit 6 the command line from the input (else the media
//      class GUID)
//   2  the module's path (mod 4): C:\Windows\System32\classhook.dll, C:\Windows\System32\
//      followed by the path part, the path part alone, one longer than MAX_PATH
//   3  the DIF code (0: DIF_SELECTBESTCOMPATDRV)
//   4  the number of compatible drivers (mod 5)
//   5+ per driver: bit 0 its INF is the whole marker part (else a marker section whose
//      value is the part), 1 no INF file at all, 2 hardware ids that fit the detail buffer,
//      3 a trusted rank, 4 DNF_BAD_DRIVER already set
// then the parts: the command line, the value's bytes, the path part, one marker per driver.
#include <dlfcn.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/inf_value.h"
#include "winsim/control.h"
#include "winsim/control_device_records.h"
#include "winsim/control_driver_nodes.h"
#include "winsim/control_files.h"
#include "winsim/control_registry.h"
#include "winsim/sdk.h"

namespace {

using fuzzing::PartedInput;

typedef DWORD(CALLBACK* CoInstallerEntry)(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA, PCOINSTALLER_CONTEXT_DATA);
typedef void(CALLBACK* RundllEntry)(HWND, HINSTANCE, LPSTR, int);

enum Call { kRegister, kUnregister, kUnregisterOld, kEntry };
const char* const kExports[] = {"ClassCoInstaller_Register", "ClassCoInstaller_Unregister",
                                "ClassCoInstaller_UnregisterOld", "ClassCoInstaller_Entry"};

const char kKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
const char kMediaClass[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
// Another class's list, which no call may touch.
const char kOtherClass[] = "{36fc9e60-c465-11cf-8056-444553540000}";
const char kOldFileName[] = "tawusbaudio_coinst.dll";
const char kEntrySuffix[] = ",ClassCoInstaller_Entry";
const size_t kListBuffer = 1024;
const DWORD kValueTypes[] = {REG_MULTI_SZ, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_NONE,
                             11 /* REG_QWORD */, 0x4D2};
const DWORD kUntrustedRank = 0x80FF0001;

[[noreturn]] void Fail(const std::string& what) { fuzzing::Finding("classhook", what); }

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

struct Setup {
  std::string commandLine;
  std::string ownFileName;  // empty: the module cannot know it
  bool loadRefused = false;
  bool keyUsable = true;
  std::vector<winsim::DriverNodeDesc> drivers;
};

// The module's Windows path, and the own file name classhook may take from it: the part after
// the last backslash of a path that fits its 260-byte buffer.
std::string ModulePath(const PartedInput& in, const std::string& part, Setup* setup) {
  const std::string paths[] = {"C:\\Windows\\System32\\classhook.dll", "C:\\Windows\\System32\\" + part, part,
                               "C:\\" + std::string(300, 'p') + "\\classhook.dll"};
  std::string path = paths[in.Control(2) % 4];
  setup->loadRefused = path.empty();
  if (path.size() < MAX_PATH) setup->ownFileName = path.substr(path.find_last_of('\\') + 1);
  return path;
}

std::string MarkerInf(const std::string& marker) {
  return "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n[CustomClassCoInstaller]\r\nUseClassCoInstaller=" + marker +
         "\r\n";
}

winsim::DriverNodeDesc Driver(PartedInput& in, size_t index) {
  const size_t control = 5 + index;
  winsim::DriverNodeDesc node;
  node.infFileName = "C:\\Windows\\INF\\n" + std::to_string(index) + ".inf";
  std::string marker = in.Next();
  if (!in.Bit(control, 1)) winsim::PutFile(node.infFileName, in.Bit(control, 0) ? marker : MarkerInf(marker));
  if (in.Bit(control, 2)) node.hardwareIds = {"X"};
  node.rank = in.Bit(control, 3) ? kUntrustedRank & 0x7FFFFFFF : kUntrustedRank;
  node.flags = in.Bit(control, 4) ? DNF_BAD_DRIVER : 0;
  return node;
}

Setup BuildMachine(PartedInput& in) {
  Setup setup;
  std::string commandLine = PartedInput::Argument(in.Next());
  setup.commandLine = in.Bit(1, 6) ? commandLine : kMediaClass;
  std::string value = in.Next();
  winsim::SetModulePath("classhook.dll", ModulePath(in, PartedInput::Argument(in.Next()), &setup));
  if (!in.Bit(1, 3))
    winsim::SetRegistryValue(kKey, setup.commandLine, kValueTypes[in.Control(1) & 7],
                             std::vector<BYTE>(value.begin(), value.end()));
  if (Lower(setup.commandLine) != Lower(kOtherClass))
    winsim::SetRegistryValue(kKey, kOtherClass, REG_MULTI_SZ, winsim::MultiStringValue({"other.dll,Entry"}));
  if (in.Bit(1, 5)) winsim::SetRegistryKeyAccess(kKey, KEY_READ);
  if (in.Bit(1, 4)) winsim::DeleteRegistryKey(kKey);
  setup.keyUsable = !in.Bit(1, 4) && !in.Bit(1, 5);
  for (size_t i = 0, count = in.Control(4) % 5; i < count; ++i) setup.drivers.push_back(Driver(in, i));
  return setup;
}

// The strings of a value as the device installer and the list edits read them: up to the first
// empty string (what follows it is dead), a last one without its NUL included.
std::vector<std::string> Entries(const std::vector<BYTE>& data) {
  std::vector<std::string> entries;
  std::string current;
  for (BYTE byte : data) {
    if (byte != 0) {
      current.push_back(static_cast<char>(byte));
      continue;
    }
    if (current.empty()) return entries;
    entries.push_back(current);
    current.clear();
  }
  if (!current.empty()) entries.push_back(current);
  return entries;
}

// What a registration call must leave: the value as it was, a new list, or no value.
struct Expected {
  bool unchanged = true;
  std::optional<std::vector<BYTE>> list;
};

Expected Changed(const std::vector<std::string>& entries) {
  Expected expected;
  expected.unchanged = false;
  if (!entries.empty()) expected.list = winsim::MultiStringValue(entries);
  return expected;
}

bool IsClassGuid(const std::string& commandLine) {
  return !commandLine.empty() && commandLine[0] == '{' && commandLine.find('}') != std::string::npos;
}

// The entry a file name removes: the first whose beginning equals the file name's first 8
// characters (all of a shorter name), ignoring case.
std::optional<std::string> EntryOfFile(const std::vector<std::string>& entries, const std::string& fileName) {
  const std::string prefix = Lower(fileName.substr(0, 8));
  for (const std::string& entry : entries)
    if (Lower(entry.substr(0, prefix.size())) == prefix) return entry;
  return std::nullopt;
}

Expected ExpectedEdit(Call call, const Setup& setup, const std::optional<winsim::RegistryData>& before) {
  const std::string fileName = call == kUnregisterOld ? std::string(kOldFileName) : setup.ownFileName;
  if (!IsClassGuid(setup.commandLine) || !setup.keyUsable || fileName.empty()) return {};
  if (before && before->data.size() > kListBuffer) return {};  // not read whole: left alone
  std::vector<std::string> entries = before ? Entries(before->data) : std::vector<std::string>();
  if (call == kRegister) {
    const std::string own = setup.ownFileName + kEntrySuffix;
    for (const std::string& entry : entries)
      if (entry == own) return {};
    entries.push_back(own);
    if (winsim::MultiStringValue(entries).size() > kListBuffer) return {};  // no room
    return Changed(entries);
  }
  std::optional<std::string> removed = before ? EntryOfFile(entries, fileName) : std::nullopt;
  if (!removed) return {};
  std::vector<std::string> kept;
  for (const std::string& entry : entries)
    if (entry != *removed) kept.push_back(entry);
  return Changed(kept);
}

void CheckEdit(Call call, const Expected& expected, const std::optional<winsim::RegistryData>& before,
               const std::optional<winsim::RegistryData>& after) {
  const std::string what = std::string(kExports[call]) + ": ";
  if (expected.unchanged) {
    if (before.has_value() != after.has_value() || (before && (before->data != after->data || before->type != after->type)))
      Fail(what + "the list changed where it must stay as it was");
  } else if (!expected.list) {
    if (after) Fail(what + "the list is still there where its last entry went");
  } else if (!after || after->type != REG_MULTI_SZ || after->data != *expected.list) {
    Fail(what + "the list is not the one the edit must leave");
  }
}

std::optional<winsim::RegistryData> Value(const std::string& name) {
  return winsim::RegistryKeyExists(kKey) ? winsim::GetRegistryValue(kKey, name) : std::nullopt;
}

void RunRegistration(HMODULE module, Call call, const Setup& setup) {
  auto run = reinterpret_cast<RundllEntry>(reinterpret_cast<void*>(GetProcAddress(module, kExports[call])));
  if (run == nullptr) Fail(std::string("no export ") + kExports[call]);
  std::optional<winsim::RegistryData> before = Value(setup.commandLine);
  Expected expected = ExpectedEdit(call, setup, before);
  // rundll32 hands over a writable copy of the rest of its command line.
  std::vector<char> line(setup.commandLine.begin(), setup.commandLine.end());
  line.push_back('\0');
  run(nullptr, nullptr, line.data(), 1);
  CheckEdit(call, expected, before, Value(setup.commandLine));
}

// Whether the driver's INF names this co-installer: its marker, read as classhook reads it
// (the profile reader's text, ended as an INF parser ends a value), equals the own file name,
// ignoring case.
bool NamesThisCoInstaller(const winsim::DriverNodeDesc& driver, const std::string& ownFileName) {
  char marker[MAX_PATH] = {};
  GetPrivateProfileStringA("CustomClassCoInstaller", "UseClassCoInstaller", "NULL", marker, sizeof marker,
                           driver.infFileName.c_str());
  inf_value::EndAtComment(marker);
  return !ownFileName.empty() && Lower(marker) == Lower(ownFileName);
}

std::vector<winsim::DriverInstallState> ExpectedRanking(const Setup& setup, DI_FUNCTION dif,
                                                        const std::vector<winsim::DriverInstallState>& before) {
  std::vector<bool> names;
  bool any = false;
  for (const winsim::DriverNodeDesc& driver : setup.drivers) {
    names.push_back(NamesThisCoInstaller(driver, setup.ownFileName));
    any = any || names.back();
  }
  if (dif != DIF_SELECTBESTCOMPATDRV || !any) return before;
  std::vector<winsim::DriverInstallState> after = before;
  for (size_t i = 0; i < after.size(); ++i) {
    if (names[i])
      after[i].rank &= 0x7FFFFFFF;
    else
      after[i].flags |= DNF_BAD_DRIVER;
  }
  return after;
}

bool SameStates(const std::vector<winsim::DriverInstallState>& a, const std::vector<winsim::DriverInstallState>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].rank != b[i].rank || a[i].flags != b[i].flags) return false;
  return true;
}

void RunEntry(HMODULE module, DI_FUNCTION dif, const Setup& setup, DEVINST device) {
  auto entry = reinterpret_cast<CoInstallerEntry>(reinterpret_cast<void*>(GetProcAddress(module, kExports[kEntry])));
  if (entry == nullptr) Fail("no export ClassCoInstaller_Entry");
  HDEVINFO set = SetupDiGetClassDevsA(&winsim::kMediaDeviceClass, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA data = {};
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInfo(set, 0, &data)) Fail("the device is not listed");
  std::vector<winsim::DriverInstallState> before = winsim::CompatibleDriverStates(device);
  std::vector<winsim::DriverInstallState> expected = ExpectedRanking(setup, dif, before);
  if (entry(dif, set, &data, nullptr) != NO_ERROR) Fail("the entry point returned an error");
  SetupDiDestroyDeviceInfoList(set);
  if (!SameStates(winsim::CompatibleDriverStates(device), expected))
    Fail("the drivers are not ranked as their markers ask");
}

DEVINST AddDevice(const Setup& setup) {
  winsim::DeviceRecordDesc record;
  record.instanceId = "USB\\VID_1A86&PID_0A3C\\1";
  record.hardwareIds = {"USB\\VID_1A86&PID_0A3C"};
  DEVINST device = winsim::AddDeviceRecord(record);
  winsim::SetCompatibleDrivers(device, setup.drivers);
  return device;
}

}  // namespace

// The library stays mapped for the whole run (each input still loads and frees it, so that its
// DllMain runs for each): a library unmapped and mapped again would register its coverage anew
// every time.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) Fail("no executable path");
  path[length] = '\0';
  std::string library(path);
  library = library.substr(0, library.find_last_of('/')) + "/classhook.dll";
  if (dlopen(library.c_str(), RTLD_NOW | RTLD_NODELETE) == nullptr) Fail("classhook.dll is not beside the fuzzer");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PartedInput in(data, size);
  winsim::Reset();
  Setup setup = BuildMachine(in);
  DEVINST device = AddDevice(setup);
  HMODULE module = LoadLibraryA("classhook.dll");
  if ((module == nullptr) != setup.loadRefused) Fail(module ? "loaded without a path" : "refused to load");
  if (module != nullptr) {
    const int calls[] = {in.Control(0) & 3, ((in.Control(0) >> 2) & 7) - 1};
    for (int call : calls) {
      if (call < 0 || call > kEntry) continue;
      if (call == kEntry)
        RunEntry(module, in.Control(3) == 0 ? DIF_SELECTBESTCOMPATDRV : in.Control(3), setup, device);
      else
        RunRegistration(module, static_cast<Call>(call), setup);
    }
    if (!FreeLibrary(module)) Fail("FreeLibrary failed");
  }
  std::optional<winsim::RegistryData> other = Value(kOtherClass);
  if (Lower(setup.commandLine) != Lower(kOtherClass) && winsim::RegistryKeyExists(kKey) &&
      (!other || other->data != winsim::MultiStringValue({"other.dll,Entry"})))
    Fail("another class's list changed");
  if (winsim::LiveHandleCount() != 0) Fail("a handle leaked");
  return 0;
}
