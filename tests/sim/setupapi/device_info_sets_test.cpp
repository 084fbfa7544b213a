// SetupAPI device interfaces and interface keys as the device discovery code meets them.
#include <doctest/doctest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "support/machine.h"
#include "winsim/machine.h"

namespace {

winsim::DeviceId PlugAudio(const std::string& instance, const GUID& category = KSCATEGORY_AUDIO,
                           std::optional<std::vector<BYTE>> name = std::nullopt) {
  winsim::InterfaceDesc desc;
  desc.category = category;
  desc.friendlyName = std::move(name);
  return winsim::PlugDevice({instance, {desc}});
}

std::vector<std::string> EnumeratePaths(HDEVINFO set, const GUID& category = KSCATEGORY_AUDIO) {
  std::vector<std::string> paths;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &category, index, &data)) {
      CHECK(GetLastError() == ERROR_NO_MORE_ITEMS);
      return paths;
    }
    alignas(8) char buffer[528];
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    REQUIRE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, nullptr));
    paths.push_back(detail->DevicePath);
  }
}

std::vector<std::string> AudioPaths(DWORD flags) {
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, flags | DIGCF_DEVICEINTERFACE);
  REQUIRE(set != INVALID_HANDLE_VALUE);
  auto paths = EnumeratePaths(set);
  CHECK(SetupDiDestroyDeviceInfoList(set));
  return paths;
}

std::vector<std::string> PresentAudioPaths() { return AudioPaths(DIGCF_PRESENT); }

winsim::DeviceId PlugPath(const std::string& path, const GUID& category = KSCATEGORY_AUDIO) {
  winsim::InterfaceDesc desc;
  desc.category = category;
  desc.pathOverride = path;
  return winsim::PlugDevice({"USB\\" + path.substr(4), {desc}});
}

}  // namespace

TEST_CASE("present interfaces of the category are enumerated sorted by name, not in arrival order") {
  testing::Machine machine;
  auto first = PlugAudio("USB\\VID_1A2B&PID_0B5D\\5&AB&0&2");
  PlugAudio("HDAUDIO\\FUNC_01&VEN_10EC\\4&2&0&0001", KSCATEGORY_RENDER);
  auto third = PlugAudio("USB\\VID_1A2B&PID_0A3C&MI_01\\7&1C2D3E4F&0&0001");
  CHECK(winsim::InterfacePath(third) ==
        "\\\\?\\usb#vid_1a2b&pid_0a3c&mi_01#7&1c2d3e4f&0&0001#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global");
  // The device that arrived last takes the first position.
  CHECK(PresentAudioPaths() == std::vector<std::string>{winsim::InterfacePath(third), winsim::InterfacePath(first)});

  winsim::UnplugDevice(third);
  CHECK(PresentAudioPaths() == std::vector<std::string>{winsim::InterfacePath(first)});
  winsim::ReplugDevice(third);
  CHECK(PresentAudioPaths() == std::vector<std::string>{winsim::InterfacePath(third), winsim::InterfacePath(first)});
}

TEST_CASE("the listing compares names in upper case; equal names follow arrival, or plug order for all known") {
  testing::Machine machine;
  const std::string underscore = "\\\\?\\usb#a_1", letter = "\\\\?\\usb#ab1";
  const std::string twin = "\\\\?\\usb#twin", twinInCapitals = "\\\\?\\USB#TWIN";
  winsim::DeviceId first = PlugPath(twin);
  PlugPath(underscore);
  PlugPath(twinInCapitals);
  PlugPath("\\\\?\\usb#aa", KSCATEGORY_RENDER);  // another class: never listed here
  PlugPath(letter);
  // '_' sorts after the capitals but before the small letters: the comparison is in upper case.
  const std::vector<std::string> plugged = {letter, underscore, twin, twinInCapitals};
  CHECK(PresentAudioPaths() == plugged);

  winsim::UnplugDevice(first);
  winsim::ReplugDevice(first);
  struct Case {
    const char* name;
    DWORD flags;
    std::vector<std::string> paths;
  } cases[] = {
      {"present: the replugged twin arrived last", DIGCF_PRESENT, {letter, underscore, twinInCapitals, twin}},
      {"every known interface: plug order", 0, plugged},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    CHECK(AudioPaths(c.flags) == c.paths);
  }
  winsim::UnplugDevice(first);
  CHECK(PresentAudioPaths() == std::vector<std::string>{letter, underscore, twinInCapitals});
  CHECK(AudioPaths(0) == plugged);
}

TEST_CASE("a set made by opening interfaces holds each once, each class in the order opened") {
  testing::Machine machine;
  std::string audioX = winsim::InterfacePath(PlugAudio("USB\\VID_1\\1"));
  std::string render = winsim::InterfacePath(PlugAudio("USB\\VID_2\\2", KSCATEGORY_RENDER));
  std::string audioY = winsim::InterfacePath(PlugAudio("USB\\VID_3\\3"));
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  std::string upperY = audioY;
  for (char& c : upperY) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& path : {audioY, render, audioX, upperY, audioX}) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    REQUIRE(SetupDiOpenDeviceInterfaceA(set, path.c_str(), 0, &data));
  }
  struct Case {
    const GUID* category;
    std::vector<std::string> paths;
  } cases[] = {
      {&KSCATEGORY_AUDIO, {audioY, audioX}},
      {&KSCATEGORY_RENDER, {render}},
      {&KSCATEGORY_CAPTURE, {}},
  };
  for (const Case& c : cases) CHECK(EnumeratePaths(set, *c.category) == c.paths);

  // The data of one set names nothing in another that does not hold the interface.
  HDEVINFO other = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  REQUIRE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_RENDER, 0, &data));
  CHECK_FALSE(SetupDiGetDeviceInterfaceDetailA(other, &data, nullptr, 0, nullptr, nullptr));
  CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
  CHECK(SetupDiOpenDeviceInterfaceRegKey(other, &data, 0, KEY_READ) == INVALID_HANDLE_VALUE);
  CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
  data.Reserved = 0;
  CHECK_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, nullptr, nullptr));
  CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
  CHECK(SetupDiDestroyDeviceInfoList(other));
  CHECK(SetupDiDestroyDeviceInfoList(set));
}

TEST_CASE("a set is a snapshot taken when it is made") {
  testing::Machine machine;
  PlugAudio("USB\\VID_1\\1");
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  PlugAudio("USB\\VID_2\\2");
  CHECK(EnumeratePaths(set).size() == 1);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_CASE("structure sizes are checked as Windows checks them") {
  testing::Machine machine;
  PlugAudio("USB\\VID_1\\1");
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data + 4;
  CHECK_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data));
  CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
  data.cbSize = sizeof data;
  REQUIRE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data));

  const std::string path = winsim::InterfacePath(1);
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
  alignas(8) char buffer[528];
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer);
  struct Case {
    const char* name;
    DWORD cbSize;
    DWORD bufferSize;
    DWORD error;
  };
  const Case cases[] = {
      {"cbSize of the whole buffer", sizeof buffer, sizeof buffer, ERROR_INVALID_USER_BUFFER},
      {"cbSize of the other width", sizeof(void*) == 8 ? 5u : 8u, sizeof buffer, ERROR_INVALID_USER_BUFFER},
      {"buffer one byte short", sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), needed - 1, ERROR_INSUFFICIENT_BUFFER},
      {"exact buffer", sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), needed, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    std::memset(buffer, 0x5A, sizeof buffer);
    detail->cbSize = c.cbSize;
    DWORD required = 0;
    SetLastError(ERROR_SUCCESS);
    BOOL ok = SetupDiGetDeviceInterfaceDetailA(set, &data, detail, c.bufferSize, &required, nullptr);
    CHECK(ok == (c.error == ERROR_SUCCESS));
    CHECK(GetLastError() == c.error);
    if (c.error != ERROR_INVALID_USER_BUFFER) CHECK(required == needed);
    if (ok) CHECK(std::string(detail->DevicePath) == path);
    if (!ok) CHECK(static_cast<unsigned char>(buffer[needed - 1]) == 0x5A);  // nothing written
  }
  SP_DEVINFO_DATA devinfo{};
  devinfo.cbSize = sizeof devinfo - 1;
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  CHECK_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, &devinfo));
  CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
  // The device's data comes back also when the path does not fit.
  devinfo.cbSize = sizeof devinfo;
  CHECK_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, nullptr, &devinfo));
  CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
  CHECK(devinfo.DevInst != 0);
  CHECK_FALSE(SetupDiGetDeviceInterfaceDetailA(set, nullptr, detail, sizeof buffer, nullptr, nullptr));
  CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_CASE("an interface without a registry key has none to open") {
  testing::Machine machine;
  winsim::InterfaceDesc desc;
  desc.hasKey = false;
  winsim::PlugDevice({"USB\\VID_1\\NOKEY", {desc}});
  HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  REQUIRE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data));
  CHECK(SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ) == static_cast<HKEY>(INVALID_HANDLE_VALUE));
  CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_CASE("the interface key holds FriendlyName as stored, terminated where the buffer has room") {
  testing::Machine machine;
  std::vector<BYTE> exact260(260, 'n');  // no terminating zero
  std::vector<BYTE> long300(300, 'L');
  PlugAudio("USB\\VID_1\\NAMED", KSCATEGORY_AUDIO, winsim::FriendlyNameValue("Tarrowin Port"));
  PlugAudio("USB\\VID_1\\NONAME");
  PlugAudio("USB\\VID_1\\EXACT", KSCATEGORY_AUDIO, exact260);
  PlugAudio("USB\\VID_1\\LONG", KSCATEGORY_AUDIO, long300);
  PlugAudio("USB\\VID_1\\SHORT", KSCATEGORY_AUDIO, std::vector<BYTE>{'a', 'b', 'c'});  // no terminating zero
  struct Case {
    winsim::DeviceId device;
    LONG result;
    DWORD size;
  };
  for (Case c : {Case{1, ERROR_SUCCESS, 14}, Case{2, ERROR_FILE_NOT_FOUND, 260}, Case{3, ERROR_SUCCESS, 260},
                 Case{4, ERROR_MORE_DATA, 300}, Case{5, ERROR_SUCCESS, 3}}) {
    CAPTURE(c.device);
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    REQUIRE(SetupDiOpenDeviceInterfaceA(set, winsim::InterfacePath(c.device).c_str(), 0, &data));
    HKEY key = SetupDiOpenDeviceInterfaceRegKey(set, &data, 0, KEY_READ);
    REQUIRE(key != INVALID_HANDLE_VALUE);
    std::vector<BYTE> name(261, 0xEE);
    DWORD size = 260;
    CHECK(RegQueryValueExA(key, "FriendlyName", nullptr, nullptr, name.data(), &size) == c.result);
    CHECK(size == c.size);
    CHECK(name[260] == 0xEE);  // never written past the size given
    if (c.device == 1) CHECK(std::string(reinterpret_cast<char*>(name.data())) == "Tarrowin Port");
    if (c.device == 3) CHECK(name[259] == 'n');  // no room for a terminator
    if (c.device == 5) CHECK(std::string(reinterpret_cast<char*>(name.data())) == "abc");  // terminated in the room left
    CHECK(RegCloseKey(key) == ERROR_SUCCESS);
    CHECK(SetupDiDestroyDeviceInfoList(set));
  }
  CHECK(RegCloseKey(static_cast<HKEY>(INVALID_HANDLE_VALUE)) == ERROR_INVALID_HANDLE);
}

TEST_CASE("an unknown path cannot be opened and leaves nothing behind") {
  testing::Machine machine;
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  CHECK_FALSE(SetupDiOpenDeviceInterfaceA(set, "\\\\?\\usb#nothing#{0}\\global", 0, &data));
  CHECK(GetLastError() == ERROR_NO_SUCH_DEVICE_INTERFACE);
  CHECK(winsim::LiveHandleCount() == 1);
  CHECK(SetupDiDestroyDeviceInfoList(set));
  CHECK_FALSE(SetupDiDestroyDeviceInfoList(set));
  CHECK(GetLastError() == ERROR_INVALID_HANDLE);
}
