// Device discovery through the connection: which devices are counted, in which order, with
// which names and product ids, and that every examined interface is closed again.
#include <doctest/doctest.h>

#include <memory>

#include "client/hidden_devices.h"

using testing::ConnectionFixture;
using testing::HiddenDevice;

namespace {

struct DeviceDeleter {
  void operator()(TarrowinHiddenMIDI::Device* device) const { testing::Destroy(device); }
};
using DevicePtr = std::unique_ptr<TarrowinHiddenMIDI::Device, DeviceDeleter>;

DevicePtr Create(TarrowinHiddenMIDI::Connection* connection, int index) {
  return DevicePtr(connection->CreateDevice(index));
}

HiddenDevice Numbered(int serial) {
  HiddenDevice device;
  // Zero-padded: interfaces are listed in the order of their names.
  std::string number = std::to_string(serial);
  device.instanceId = "USB\\VID_1A86&PID_0A3C&MI_00\\7&" + std::string(3 - number.size(), '0') + number;
  device.friendlyName = winsim::FriendlyNameValue("Port " + std::to_string(serial));
  return device;
}

}  // namespace

TEST_CASE("devices without a usable hidden port are counted out, each opened and closed once") {
  ConnectionFixture fixture;
  std::vector<winsim::DeviceId> audio;
  for (int i = 0; i < 5; ++i) audio.push_back(testing::PlugOrdinaryAudio(i, i % 2 == 0));
  // A filter whose pins answer nothing, and a hidden port whose pins have no communication.
  winsim::FilterDesc silent = winsim::UnansweringFilter(2);
  winsim::FilterDesc noCommunication;
  for (ULONG flow : {KSPIN_DATAFLOW_IN, KSPIN_DATAFLOW_OUT})
    noCommunication.pins.push_back(
        winsim::MidiPinFactory(winsim::kDriverHiddenMidiSubFormat1, flow, KSPIN_COMMUNICATION_NONE));
  // A hidden port whose driver answers size queries with ERROR_INSUFFICIENT_BUFFER: on Windows
  // no size comes back with that error, so its pins cannot be read.
  winsim::FilterDesc noSizes = winsim::HiddenMidiFilter(winsim::kDriverHiddenMidiSubFormat1);
  noSizes.sizeQueryError = ERROR_INSUFFICIENT_BUFFER;
  for (const winsim::FilterDesc& filter : {silent, noCommunication, noSizes}) {
    winsim::InterfaceDesc desc;
    desc.filter = filter;
    audio.push_back(winsim::PlugDevice({"USB\\VID_1A86&PID_0A3C\\" + std::to_string(audio.size()), {desc}}));
  }
  CHECK(fixture.connection->GetDeviceCount() == 0);
  CHECK(fixture.connection->CreateDevice(0) == nullptr);
  for (winsim::DeviceId id : audio) {
    winsim::OpenCounts counts = winsim::InterfaceOpenCounts(testing::PathOf(id));
    CHECK(counts.filterOpens == 2);  // once per enumeration: the count and the creation
    CHECK(counts.filterCloses == 2);
    CHECK(counts.pinOpens == 0);
  }
}

TEST_CASE("the count follows the machine; a device keeps its own filter") {
  ConnectionFixture fixture;
  testing::PlugOrdinaryAudio(1);
  auto first = testing::Plug(Numbered(1));
  CHECK(fixture.connection->GetDeviceCount() == 1);
  DevicePtr device = Create(fixture.connection, 0);
  REQUIRE(device);
  auto second = testing::Plug(Numbered(2));
  CHECK(fixture.connection->GetDeviceCount() == 2);
  CHECK(std::string(Create(fixture.connection, 1)->GetName()) == "Port 2");

  winsim::UnplugDevice(first);
  CHECK(fixture.connection->GetDeviceCount() == 1);
  CHECK(std::string(device->GetName()) == "Port 1");  // its own filter, still held open
  winsim::OpenCounts counts = winsim::InterfaceOpenCounts(testing::PathOf(first));
  CHECK(counts.filterOpens - counts.filterCloses == 1);
  device.reset();
  counts = winsim::InterfaceOpenCounts(testing::PathOf(first));
  CHECK(counts.filterOpens == counts.filterCloses);
  (void)second;
}

TEST_CASE("indices outside the enumeration give no device") {
  ConnectionFixture fixture;
  testing::Plug(Numbered(1));
  for (int index : {-1, 1, 2, 32, 0x7FFFFFFF, static_cast<int>(0x80000000u)}) {
    CAPTURE(index);
    CHECK(fixture.connection->CreateDevice(index) == nullptr);
  }
  DevicePtr device = Create(fixture.connection, 0);
  REQUIRE(device);
  CHECK(device->OpenInput(1) == nullptr);
  CHECK(device->OpenOutput(-1) == nullptr);
  CHECK(device->GetTypeCode() == 67);
  CHECK(device->GetInputCount() == 1);
  CHECK(device->GetOutputCount() == 1);
}

TEST_CASE("the product id comes from the path, exactly and with case; the name from the interface key") {
  const std::string guid = "#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";
  const auto name = [](const char* text) { return std::optional(winsim::FriendlyNameValue(text)); };
  struct Case {
    std::string path;
    int productId;
    std::optional<std::vector<BYTE>> nameValue;
    std::string name;
    std::string failing = {};  // a step of the name's lookup that fails
  };
  const Case cases[] = {
      {"\\\\?\\usb#vid_1a86&pid_0a3c#7&1" + guid, 0x0A3C, name("Tarrowin MIDI"), "Tarrowin MIDI"},
      {"\\\\?\\usb#vid_1a86&pid_0b5d#7&2" + guid, 0x0B5D, std::nullopt, ""},
      {"\\\\?\\usb#vid_1a86&pid_0b5d&pid_0a3c#7&3" + guid, 0x0A3C, std::vector<BYTE>(260, 'A'), std::string(259, 'A')},
      {"\\\\?\\USB#VID_1A86&PID_0A3C#7&4#{6994AD04-93EF-11D0-A3CC-00A0C9223196}\\GLOBAL", 0x0C21,
       std::vector<BYTE>(261, 'B'), ""},
      {"\\\\?\\usb#vid_1a86&pid_1234#7&5" + guid, 0x0C21, std::vector<BYTE>(1000, 'C'), ""},
      {"\\\\?\\usb#vid_1a86&pid_0a3c#7&6" + guid, 0x0A3C, name("Unread"), "", "SetupDiOpenDeviceInterfaceRegKey"},
      {"\\\\?\\usb#vid_1a86&pid_0a3c#7&7" + guid, 0x0A3C, name("Unread"), "", "SetupDiOpenDeviceInterfaceA"},
      {"\\\\?\\usb#vid_1a86&pid_0a3c#7&8" + guid, 0x0A3C, name("Unread"), "", "SetupDiCreateDeviceInfoList"},
  };
  for (const Case& c : cases) {
    CAPTURE(c.path);
    ConnectionFixture fixture;
    HiddenDevice hidden;
    hidden.pathOverride = c.path;
    hidden.friendlyName = c.nameValue;
    testing::Plug(hidden);
    winsim::ResetCallCounts();
    if (!c.failing.empty()) winsim::FailCall(c.failing, ERROR_FILE_NOT_FOUND, -1);
    DevicePtr device = Create(fixture.connection, 0);
    REQUIRE(device);
    CHECK(device->GetProductId() == c.productId);
    CHECK(std::string(device->GetName()) == c.name);
    // What a failed step returned is no key or set, and is not closed.
    std::map<std::string, uint64_t> calls = winsim::CallCounts();
    CHECK(calls["RegCloseKey"] == (c.failing.empty() ? 1u : 0u));
    CHECK(calls["SetupDiDestroyDeviceInfoList"] == (c.failing == "SetupDiCreateDeviceInfoList" ? 1u : 2u));
  }
}

TEST_CASE("two interface paths that differ only in case give one entry") {
  ConnectionFixture fixture;
  const std::string path = "\\\\?\\usb#vid_1a86&pid_0a3c#7&1#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  HiddenDevice first;
  first.pathOverride = path;
  HiddenDevice second;
  second.instanceId = "USB\\OTHER";
  second.pathOverride = upper;
  testing::Plug(first);
  testing::Plug(second);
  CHECK(fixture.connection->GetDeviceCount() == 1);
}

TEST_CASE("interfaces with paths too long for a record are skipped") {
  const std::string tail = "#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";
  for (size_t length : {259u, 260u, 300u, 523u}) {
    CAPTURE(length);
    ConnectionFixture fixture;
    HiddenDevice hidden;
    hidden.pathOverride = "\\\\?\\usb#pid_0a3c#" + std::string(length - 17 - tail.size(), 'x') + tail;
    REQUIRE(hidden.pathOverride.size() == length);
    testing::Plug(hidden);
    CHECK(fixture.connection->GetDeviceCount() == (length < 260 ? 1u : 0u));
  }
}

TEST_CASE("one enumeration lists at most 32 hidden-port devices") {
  ConnectionFixture fixture;
  std::vector<winsim::DeviceId> devices;
  for (int i = 0; i < 34; ++i) devices.push_back(testing::Plug(Numbered(i)));
  CHECK(fixture.connection->GetDeviceCount() == 32);
  DevicePtr last = Create(fixture.connection, 31);
  REQUIRE(last);
  CHECK(std::string(last->GetName()) == "Port 31");
  CHECK(fixture.connection->CreateDevice(32) == nullptr);
  last.reset();
  for (winsim::DeviceId id : devices) {
    winsim::OpenCounts counts = winsim::InterfaceOpenCounts(testing::PathOf(id));
    CHECK(counts.filterOpens == counts.filterCloses);
  }
}

TEST_CASE("a hidden port with the second subformat counts; ordinary MIDI ports do not") {
  ConnectionFixture fixture;
  testing::PlugOrdinaryAudio(1, true);
  HiddenDevice second;
  second.subFormat = winsim::kDriverHiddenMidiSubFormat2;
  testing::Plug(second);
  CHECK(fixture.connection->GetDeviceCount() == 1);
}
