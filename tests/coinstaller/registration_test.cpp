// classhook's registration exports against the simulated registry: the list edits, the
// command-line check, and malformed values that must never be read or written past.
#include <doctest/doctest.h>

#include <optional>
#include <string>
#include <vector>

#include "coinstaller/classhook_module.h"
#include "support/machine.h"
#include "winsim/control_registry.h"

namespace {

const char kKey[] = "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
const char kClass[] = "{4d36e96c-e325-11ce-bfc1-08002be10318}";
const std::string kOwn = "classhook.dll,ClassCoInstaller_Entry";

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }
std::vector<BYTE> List(const std::vector<std::string>& entries) { return winsim::MultiStringValue(entries); }

enum Export { kRegister, kUnregister, kUnregisterOld };

testing::RundllEntry ExportOf(const testing::ClassHook& hook, Export which) {
  return which == kRegister ? hook.registerExport : which == kUnregister ? hook.unregisterExport : hook.unregisterOldExport;
}

struct Case {
  const char* title;
  std::optional<std::vector<BYTE>> before;  // none: no such value
  DWORD type;
  Export which;
  std::optional<std::vector<BYTE>> after;  // none: the value is gone
};

void RunCase(const testing::ClassHook& hook, const Case& c) {
  const std::string title = c.title;
  CAPTURE(title);
  winsim::DeleteRegistryKey(kKey);
  winsim::CreateRegistryKey(kKey);
  if (c.before) winsim::SetRegistryValue(kKey, kClass, c.type, *c.before);
  testing::ClassHook::Run(ExportOf(hook, c.which), kClass);
  std::optional<winsim::RegistryData> value = winsim::GetRegistryValue(kKey, kClass);
  REQUIRE(value.has_value() == c.after.has_value());
  if (!value) return;
  CHECK(value->data == *c.after);
  // A list that was edited is written as REG_MULTI_SZ; one left alone keeps its type.
  const bool unchanged = c.before && value->data == *c.before;
  CHECK(value->type == (unchanged ? c.type : static_cast<DWORD>(REG_MULTI_SZ)));
}

}  // namespace

TEST_CASE("register and unregister edit the class's co-installer list") {
  testing::Machine machine;
  testing::ClassHook hook;
  const Case cases[] = {
      {"register into a missing value", std::nullopt, REG_MULTI_SZ, kRegister, List({kOwn})},
      {"register twice leaves one entry", List({kOwn}), REG_MULTI_SZ, kRegister, List({kOwn})},
      {"register appends after another co-installer", List({"other.dll,Entry"}), REG_MULTI_SZ, kRegister,
       List({"other.dll,Entry", kOwn})},
      {"the duplicate test is case-sensitive", List({"CLASSHOOK.DLL,ClassCoInstaller_Entry"}), REG_MULTI_SZ,
       kRegister, List({"CLASSHOOK.DLL,ClassCoInstaller_Entry", kOwn})},
      {"register into an empty list", List({}), REG_MULTI_SZ, kRegister, List({kOwn})},
      {"unregister of the only entry deletes the value", List({kOwn}), REG_MULTI_SZ, kUnregister, std::nullopt},
      {"unregister keeps the others in their order", List({"a.dll,A", kOwn, "b.dll,B"}), REG_MULTI_SZ, kUnregister,
       List({"a.dll,A", "b.dll,B"})},
      {"unregister removes the first 8-character match and every copy of it",
       List({"classhoo_v1.dll,E", kOwn, "classhoo_v1.dll,E"}), REG_MULTI_SZ, kUnregister, List({kOwn})},
      {"unregister without a matching entry changes nothing", List({"other.dll,Entry"}), REG_MULTI_SZ, kUnregister,
       List({"other.dll,Entry"})},
      {"unregister of an empty list leaves it", List({}), REG_MULTI_SZ, kUnregister, List({})},
      {"UnregisterOld in capitals", List({"TAWUSBAUDIO_COINST.DLL,CoInstallerEntry", kOwn}), REG_MULTI_SZ,
       kUnregisterOld, List({kOwn})},
      {"UnregisterOld with another suffix", List({"tawusbau_v2.dll,Entry"}), REG_MULTI_SZ, kUnregisterOld,
       std::nullopt},
      {"UnregisterOld leaves this co-installer", List({kOwn}), REG_MULTI_SZ, kUnregisterOld, List({kOwn})},
  };
  for (const Case& c : cases) RunCase(hook, c);
}

TEST_CASE("malformed and oversized lists are never read or written past and never lose an entry") {
  testing::Machine machine;
  testing::ClassHook hook;
  // Sizes around the 1024-byte buffer: an entry of filler, then the terminators.
  auto filled = [](size_t total, size_t terminators, const std::string& file = "f.dll,") {
    std::string text(total - terminators, 'x');
    text.replace(0, file.size(), file);
    return Bytes(text + std::string(terminators, '\0'));
  };
  const std::vector<BYTE> list1024 = filled(1024, 2);
  const std::vector<BYTE> unterminated1024 = filled(1024, 0);
  const std::vector<BYTE> over1024 = filled(1100, 2);
  // The new list is the old one plus the entry and its terminator.
  const std::vector<BYTE> tight = filled(1024 - kOwn.size(), 2);      // one byte short of room
  const std::vector<BYTE> roomy = filled(1024 - kOwn.size() - 1, 2);  // exactly room
  std::vector<BYTE> roomyAfter(roomy.begin(), roomy.end() - 1);
  for (char c : kOwn) roomyAfter.push_back(static_cast<BYTE>(c));
  roomyAfter.push_back(0);
  roomyAfter.push_back(0);
  std::vector<BYTE> withOwnUnterminated = List({"a.dll,A"});
  withOwnUnterminated.pop_back();
  for (char c : kOwn) withOwnUnterminated.push_back(static_cast<BYTE>(c));
  const Case cases[] = {
      {"no terminator at all", Bytes("a.dll,A"), REG_MULTI_SZ, kRegister, List({"a.dll,A", kOwn})},
      {"one terminator only", Bytes(std::string("a.dll,A\0", 8)), REG_MULTI_SZ, kRegister,
       List({"a.dll,A", kOwn})},
      // The device installer reads a list up to its first empty string; what follows stays dead.
      {"empty entries between others", Bytes(std::string("a.dll,A\0\0\0b.dll,B\0\0", 19)), REG_MULTI_SZ, kRegister,
       List({"a.dll,A", kOwn})},
      {"unregister keeps the dead entries dead", Bytes(std::string("a.dll,A\0", 8) + kOwn + std::string("\0\0b.dll,B\0\0", 11)),
       REG_MULTI_SZ, kUnregister, List({"a.dll,A"})},
      {"a list that begins with an empty string holds nothing to unregister",
       Bytes(std::string("\0", 1) + kOwn + std::string("\0\0", 2)), REG_MULTI_SZ, kUnregister,
       Bytes(std::string("\0", 1) + kOwn + std::string("\0\0", 2))},
      {"a value of another type is read as a list", Bytes(std::string("a.dll,A\0", 8)), REG_SZ, kRegister,
       List({"a.dll,A", kOwn})},
      {"a number is read as bytes", Bytes(std::string("\x01\0\0\0", 4)), REG_DWORD, kRegister,
       List({"\x01", kOwn})},
      {"exactly 1024 bytes: no room, left unchanged", list1024, REG_MULTI_SZ, kRegister, list1024},
      {"1024 bytes without a terminator, left unchanged", unterminated1024, REG_MULTI_SZ, kRegister,
       unterminated1024},
      {"1023 bytes", filled(1023, 1), REG_MULTI_SZ, kRegister, filled(1023, 1)},
      {"1022 bytes", filled(1022, 2), REG_MULTI_SZ, kRegister, filled(1022, 2)},
      {"an entry one byte short of room leaves the value", tight, REG_MULTI_SZ, kRegister, tight},
      {"an entry that just fits goes last", roomy, REG_MULTI_SZ, kRegister, roomyAfter},
      {"a value longer than the buffer is left unchanged by register", over1024, REG_MULTI_SZ, kRegister, over1024},
      {"and by unregister", over1024, REG_MULTI_SZ, kUnregister, over1024},
      {"unregister of an unterminated 1024-byte entry", filled(1024, 0, "classhook.dll,"), REG_MULTI_SZ,
       kUnregister, std::nullopt},
      {"unregister of an unterminated last entry", withOwnUnterminated, REG_MULTI_SZ, kUnregister,
       List({"a.dll,A"})},
      {"unregister beside an unterminated 1024-byte list", unterminated1024, REG_MULTI_SZ, kUnregister,
       unterminated1024},
      {"odd length with empty entries", Bytes(std::string("\0a.dll,A\0\0classhook.dll,x", 25)), REG_BINARY,
       kUnregister, Bytes(std::string("\0a.dll,A\0\0classhook.dll,x", 25))},
  };
  for (const Case& c : cases) RunCase(hook, c);
}

TEST_CASE("registration ignores command lines that are not a braced GUID and ends silently on registry failures") {
  testing::Machine machine;
  testing::ClassHook hook;
  for (const char* line : {"4d36e96c-e325-11ce-bfc1-08002be10318", "}{4d36e96c}", "{4d36e96c", "", " {x}"}) {
    CAPTURE(line);
    testing::ClassHook::Run(hook.registerExport, line);
    CHECK_FALSE(winsim::GetRegistryValue(kKey, line));
    winsim::SetRegistryValue(kKey, line, REG_MULTI_SZ, List({kOwn}));
    testing::ClassHook::Run(hook.unregisterExport, line);
    testing::ClassHook::Run(hook.unregisterOldExport, line);
    CHECK(winsim::GetRegistryValue(kKey, line)->data == List({kOwn}));
  }
  hook.registerExport(nullptr, nullptr, nullptr, 1);
  // The whole command line names the value, whatever follows the closing brace.
  testing::ClassHook::Run(hook.registerExport, "{x} trailing");
  CHECK(winsim::GetRegistryValue(kKey, "{x} trailing")->data == List({kOwn}));

  // A key that cannot be opened for writing, a missing key, a read that fails for another
  // reason than a missing value: nothing changes and no key stays open.
  const std::vector<BYTE> other = List({"other.dll,Entry"});
  winsim::SetRegistryValue(kKey, kClass, REG_MULTI_SZ, other);
  winsim::SetRegistryKeyAccess(kKey, KEY_READ);
  for (auto run : {hook.registerExport, hook.unregisterExport}) testing::ClassHook::Run(run, kClass);
  CHECK(winsim::GetRegistryValue(kKey, kClass)->data == other);
  winsim::SetRegistryKeyAccess(kKey, KEY_ALL_ACCESS);
  winsim::FailCall("RegQueryValueExA", ERROR_NOT_ENOUGH_MEMORY);
  testing::ClassHook::Run(hook.registerExport, kClass);
  CHECK(winsim::GetRegistryValue(kKey, kClass)->data == other);
  winsim::FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);
  testing::ClassHook::Run(hook.registerExport, kClass);
  CHECK(winsim::GetRegistryValue(kKey, kClass)->data == other);
  winsim::DeleteRegistryKey(kKey);
  for (auto run : {hook.registerExport, hook.unregisterExport, hook.unregisterOldExport})
    testing::ClassHook::Run(run, kClass);
  CHECK_FALSE(winsim::RegistryKeyExists(kKey));
  CHECK(winsim::LiveHandleCount() == 0);
}

TEST_CASE("the entry names the module's own file as loaded, however long its name") {
  struct PathCase {
    std::string path;
    std::string entryFile;  // empty: the name is unknown and nothing is registered
  };
  const std::string longName(240, 'n');  // the entry text is longer than a path buffer
  const std::string cutPath = "C:\\" + std::string(300, 'p') + "\\classhook.dll";
  // A name shorter than the 8 characters unregistering compares still finds its own entry.
  for (const PathCase& c : {PathCase{"C:\\Windows\\System32\\ClassHook.dll", "ClassHook.dll"},
                            PathCase{"C:\\Windows\\System32\\ch.dll", "ch.dll"},
                            PathCase{"C:\\Windows\\System32\\hook.dll", "hook.dll"},
                            PathCase{"C:\\" + longName + ".dll", longName + ".dll"}, PathCase{cutPath, ""}}) {
    CAPTURE(c.path.size());
    testing::Machine machine;
    testing::ClassHook hook(c.path);
    testing::ClassHook::Run(hook.registerExport, kClass);
    std::optional<winsim::RegistryData> value = winsim::GetRegistryValue(kKey, kClass);
    if (c.entryFile.empty()) {
      CHECK_FALSE(value);
      winsim::SetRegistryValue(kKey, kClass, REG_MULTI_SZ, List({kOwn}));
      testing::ClassHook::Run(hook.unregisterExport, kClass);
      CHECK(winsim::GetRegistryValue(kKey, kClass)->data == List({kOwn}));
      continue;
    }
    REQUIRE(value);
    CHECK(value->data == List({c.entryFile + ",ClassCoInstaller_Entry"}));
    testing::ClassHook::Run(hook.unregisterExport, kClass);
    CHECK_FALSE(winsim::GetRegistryValue(kKey, kClass));
  }
}

TEST_CASE("DllMain refuses the load when the module's file name cannot be read") {
  testing::Machine machine;
  winsim::FailCall("GetModuleFileNameA", ERROR_NOT_ENOUGH_MEMORY);
  SetLastError(0);
  CHECK(LoadLibraryA("classhook.dll") == nullptr);
  CHECK(GetLastError() == ERROR_DLL_INIT_FAILED);
  CHECK(winsim::LiveHandleCount() == 0);
  // Loaded again, it works; a second load shares the first and does not read the name again.
  testing::ClassHook hook;
  winsim::FailCall("GetModuleFileNameA", ERROR_NOT_ENOUGH_MEMORY, -1);
  HMODULE again = LoadLibraryA("classhook.dll");
  CHECK(again == hook.module);
  CHECK(FreeLibrary(again));
  winsim::ClearFaults();
  char path[MAX_PATH];
  CHECK(GetModuleFileNameA(hook.module, path, sizeof path) == std::string("C:\\Windows\\System32\\classhook.dll").size());
  CHECK(std::string(path) == "C:\\Windows\\System32\\classhook.dll");
  testing::ClassHook::Run(hook.registerExport, kClass);
  CHECK(winsim::GetRegistryValue(kKey, kClass)->data == List({kOwn}));
}
