// The simulated registry against what Windows (and Wine, where it was probed) reports.
#include <doctest/doctest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/machine.h"
#include "winsim/control_registry.h"

namespace {

const char kKey[] = "SOFTWARE\\Tarrowin\\Test";

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

HKEY Open(REGSAM access = KEY_ALL_ACCESS, const char* path = kKey) {
  HKEY key = nullptr;
  REQUIRE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key) == ERROR_SUCCESS);
  return key;
}

}  // namespace

TEST_CASE("RegOpenKeyExA finds keys by path without regard to case and grants only what the key allows") {
  testing::Machine machine;
  winsim::CreateRegistryKey(kKey);
  winsim::CreateRegistryKey("SOFTWARE\\Locked");
  winsim::SetRegistryKeyAccess("SOFTWARE\\Locked", KEY_READ);
  struct Case {
    const char* path;
    REGSAM access;
    LONG result;
  };
  for (Case c : {Case{"software\\TARROWIN\\test", KEY_READ, ERROR_SUCCESS},
                 Case{"SOFTWARE\\\\Tarrowin\\Test\\", 0x2001F, ERROR_SUCCESS},  // empty names are skipped
                 Case{"\\SOFTWARE\\Tarrowin", KEY_READ, ERROR_BAD_PATHNAME},
                 Case{"SOFTWARE\\Tarrowin\\Missing", KEY_READ, ERROR_FILE_NOT_FOUND},
                 Case{"SOFTWARE\\Locked", KEY_QUERY_VALUE, ERROR_SUCCESS},
                 Case{"SOFTWARE\\Locked", GENERIC_READ, ERROR_SUCCESS},
                 Case{"SOFTWARE\\Locked", KEY_READ | KEY_SET_VALUE, ERROR_ACCESS_DENIED},
                 Case{"SOFTWARE\\Locked", GENERIC_WRITE, ERROR_ACCESS_DENIED}}) {
    CAPTURE(c.path);
    CAPTURE(c.access);
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    CHECK(RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.path, 0, c.access, &key) == c.result);
    if (c.result != ERROR_SUCCESS) CHECK(key == nullptr);
    if (c.result == ERROR_SUCCESS) CHECK(RegCloseKey(key) == ERROR_SUCCESS);
  }
  // Relative to an open key, and the key itself again for an empty sub-key name.
  HKEY parent = Open(KEY_READ, "SOFTWARE");
  HKEY child = nullptr;
  CHECK(RegOpenKeyExA(parent, "Tarrowin\\Test", 0, KEY_READ, &child) == ERROR_SUCCESS);
  HKEY same = nullptr;
  CHECK(RegOpenKeyExA(child, nullptr, 0, KEY_READ, &same) == ERROR_SUCCESS);
  CHECK(same != child);
  CHECK(winsim::LiveHandleCount() == 3);
  for (HKEY key : {same, child, parent}) CHECK(RegCloseKey(key) == ERROR_SUCCESS);
  HKEY key = nullptr;
  CHECK(RegOpenKeyExA(reinterpret_cast<HKEY>(0x5550), "x", 0, KEY_READ, &key) == ERROR_INVALID_HANDLE);
  CHECK(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, nullptr) == ERROR_INVALID_PARAMETER);
  winsim::FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED);
  CHECK(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) == ERROR_ACCESS_DENIED);
  CHECK(key == nullptr);
  // Every machine has the class co-installer key; a test can take it away.
  CHECK(winsim::RegistryKeyExists("SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers"));
  winsim::DeleteRegistryKey("SYSTEM\\CurrentControlSet\\Control");
  CHECK_FALSE(winsim::RegistryKeyExists("SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers"));
  CHECK(winsim::RegistryKeyExists("SYSTEM\\CurrentControlSet"));
}

TEST_CASE("RegQueryValueExA reports the stored size and terminates a string only where the buffer has room") {
  testing::Machine machine;
  winsim::SetRegistryValue(kKey, "sz", REG_SZ, Bytes("abc"));  // stored without its terminator
  winsim::SetRegistryValue(kKey, "ms", REG_MULTI_SZ, Bytes(std::string("a\0b", 3)));
  winsim::SetRegistryValue(kKey, "ex", REG_EXPAND_SZ, Bytes("ab"));
  winsim::SetRegistryValue(kKey, "bin", REG_BINARY, Bytes("abc"));
  winsim::SetRegistryValue(kKey, "done", REG_SZ, Bytes(std::string("abc\0", 4)));
  winsim::SetRegistryValue(kKey, "empty", REG_SZ, {});
  HKEY key = Open(KEY_READ);
  struct Case {
    const char* name;
    DWORD room;
    LONG result;
    DWORD type;
    DWORD size;
    std::string bytes;  // the buffer's first bytes afterwards; 'E' is untouched
  };
  const Case cases[] = {
      {"sz", 2, ERROR_MORE_DATA, REG_SZ, 3, "abEE"},  // undefined on Windows: the start here
      {"sz", 3, ERROR_SUCCESS, REG_SZ, 3, "abcE"},
      {"sz", 4, ERROR_SUCCESS, REG_SZ, 3, std::string("abc\0E", 5)},
      {"ms", 4, ERROR_SUCCESS, REG_MULTI_SZ, 3, std::string("a\0b\0E", 5)},  // one terminator, not two
      {"ex", 3, ERROR_SUCCESS, REG_EXPAND_SZ, 2, std::string("ab\0E", 4)},
      {"bin", 8, ERROR_SUCCESS, REG_BINARY, 3, "abcE"},
      {"done", 8, ERROR_SUCCESS, REG_SZ, 4, std::string("abc\0E", 5)},
      {"empty", 8, ERROR_SUCCESS, REG_SZ, 0, "EEEE"},  // nothing copied (UBSan: no copy from null)
      {"empty", 0, ERROR_SUCCESS, REG_SZ, 0, "EEEE"},
      {"SZ", 8, ERROR_SUCCESS, REG_SZ, 3, std::string("abc\0", 4)},  // value names ignore case
      {"missing", 8, ERROR_FILE_NOT_FOUND, REG_NONE, 8, "EEEE"},  // the size is kept with a buffer
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    CAPTURE(c.room);
    std::vector<BYTE> buffer(16, 'E');
    DWORD type = 99;
    DWORD size = c.room;
    CHECK(RegQueryValueExA(key, c.name, nullptr, &type, buffer.data(), &size) == c.result);
    CHECK(type == c.type);
    CHECK(size == c.size);
    CHECK(std::string(buffer.begin(), buffer.begin() + c.bytes.size()) == c.bytes);
  }
  DWORD size = 0;
  CHECK(RegQueryValueExA(key, "sz", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS);
  CHECK(size == 3);
  CHECK(RegQueryValueExA(key, "sz", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
  BYTE byte = 0;
  CHECK(RegQueryValueExA(key, "sz", nullptr, nullptr, &byte, nullptr) == ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  CHECK(RegQueryValueExA(key, "sz", &reserved, nullptr, nullptr, &size) == ERROR_INVALID_PARAMETER);
  winsim::FailCall("RegQueryValueExA", ERROR_NOT_ENOUGH_MEMORY);
  CHECK(RegQueryValueExA(key, "sz", nullptr, nullptr, nullptr, &size) == ERROR_NOT_ENOUGH_MEMORY);
  CHECK(RegCloseKey(key) == ERROR_SUCCESS);
  HKEY writeOnly = Open(KEY_SET_VALUE);
  CHECK(RegQueryValueExA(writeOnly, "sz", nullptr, nullptr, nullptr, &size) == ERROR_ACCESS_DENIED);
  CHECK(RegCloseKey(writeOnly) == ERROR_SUCCESS);
}

TEST_CASE("RegSetValueExA and RegDeleteValueA change values through a key opened for writing") {
  testing::Machine machine;
  winsim::CreateRegistryKey(kKey);
  HKEY key = Open(KEY_READ | KEY_SET_VALUE);
  // A string size that leaves out the terminator takes it in when the next byte is that
  // terminator, as Windows does; otherwise the bytes are stored as given.
  const char withNul[] = "abc";
  const char withoutNul[] = "abcX";
  CHECK(RegSetValueExA(key, "a", 0, REG_SZ, reinterpret_cast<const BYTE*>(withNul), 3) == ERROR_SUCCESS);
  CHECK(RegSetValueExA(key, "b", 0, REG_SZ, reinterpret_cast<const BYTE*>(withoutNul), 3) == ERROR_SUCCESS);
  CHECK(RegSetValueExA(key, "c", 0, REG_BINARY, reinterpret_cast<const BYTE*>(withNul), 3) == ERROR_SUCCESS);
  CHECK(RegSetValueExA(key, "d", 0, REG_MULTI_SZ, winsim::MultiStringValue({"x", "y"}).data(), 5) ==
        ERROR_SUCCESS);
  CHECK(winsim::GetRegistryValue(kKey, "a")->data == Bytes(std::string("abc\0", 4)));
  CHECK(winsim::GetRegistryValue(kKey, "b")->data == Bytes("abc"));
  CHECK(winsim::GetRegistryValue(kKey, "c")->data == Bytes("abc"));
  CHECK(winsim::GetRegistryValue(kKey, "d")->type == REG_MULTI_SZ);
  CHECK(winsim::GetRegistryValue(kKey, "D")->data == Bytes(std::string("x\0y\0\0", 5)));
  CHECK(RegSetValueExA(key, "A", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"), 4) == ERROR_SUCCESS);
  CHECK(winsim::GetRegistryValue(kKey, "a")->type == REG_DWORD);
  CHECK(RegSetValueExA(key, "e", 0, REG_BINARY, nullptr, 5) == ERROR_NOACCESS);
  CHECK(RegSetValueExA(key, "e", 0, REG_BINARY, nullptr, 0) == ERROR_SUCCESS);
  CHECK(winsim::GetRegistryValue(kKey, "e")->data.empty());

  CHECK(RegDeleteValueA(key, "A") == ERROR_SUCCESS);
  CHECK_FALSE(winsim::GetRegistryValue(kKey, "a"));
  CHECK(RegDeleteValueA(key, "a") == ERROR_FILE_NOT_FOUND);
  winsim::FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);
  CHECK(RegSetValueExA(key, "b", 0, REG_SZ, reinterpret_cast<const BYTE*>("z"), 2) == ERROR_ACCESS_DENIED);
  winsim::FailCall("RegDeleteValueA", ERROR_ACCESS_DENIED);
  CHECK(RegDeleteValueA(key, "b") == ERROR_ACCESS_DENIED);
  CHECK(winsim::GetRegistryValue(kKey, "b")->data == Bytes("abc"));
  CHECK(RegCloseKey(key) == ERROR_SUCCESS);

  HKEY readOnly = Open(KEY_READ);
  CHECK(RegSetValueExA(readOnly, "b", 0, REG_SZ, reinterpret_cast<const BYTE*>("z"), 2) == ERROR_ACCESS_DENIED);
  CHECK(RegDeleteValueA(readOnly, "b") == ERROR_ACCESS_DENIED);
  CHECK(RegCloseKey(readOnly) == ERROR_SUCCESS);
  CHECK(winsim::GetRegistryValue(kKey, "b")->data == Bytes("abc"));
}

TEST_CASE("RegCloseKey closes a key once and leaves the predefined keys alone") {
  testing::Machine machine;
  winsim::CreateRegistryKey(kKey);
  HKEY key = Open();
  CHECK(winsim::LiveHandleCount() == 1);
  CHECK(RegCloseKey(key) == ERROR_SUCCESS);
  CHECK(RegCloseKey(key) == ERROR_INVALID_HANDLE);
  CHECK(RegCloseKey(nullptr) == ERROR_INVALID_HANDLE);
  CHECK(RegCloseKey(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS);
  // Keys are not kernel objects.
  key = Open();
  CHECK_FALSE(CloseHandle(key));
  // An injected failure is reported, and the key is closed all the same.
  winsim::FailCall("RegCloseKey", ERROR_INVALID_HANDLE);
  CHECK(RegCloseKey(key) == ERROR_INVALID_HANDLE);
  CHECK(winsim::LiveHandleCount() == 0);
  // The predefined key itself holds values too.
  winsim::SetRegistryValue("", "root", REG_SZ, Bytes(std::string("r\0", 2)));
  DWORD size = 0;
  CHECK(RegQueryValueExA(HKEY_LOCAL_MACHINE, "root", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS);
  CHECK(size == 2);
}
