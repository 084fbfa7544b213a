// A device's ports reach that device, whatever arrived, left or failed to open since the host
// made the device object: no byte goes to another device, no other device's input comes back.
#include <doctest/doctest.h>

#include <functional>

#include "client/hidden_devices.h"

using testing::HiddenDevice;

namespace {

HiddenDevice Serial(const std::string& serial) {
  HiddenDevice device;
  device.instanceId = "USB\\VID_1A86&PID_0A3C&MI_00\\7&" + serial;
  return device;
}

struct Scenario {
  const char* what;
  std::vector<std::string> plugged;  // serials, plugged in this order before the device is made
  int ownIndex;                      // the host's device index when it made the device
  // What happens between making the device and opening its ports.
  std::function<void(std::vector<winsim::DeviceId>& devices)> change;
  // The first interface open of each port's enumeration fails.
  bool firstOpenFails = false;
};

void ArmOpenFault(const Scenario& s) {
  if (s.firstOpenFails) winsim::FailCall("CreateFileA", ERROR_SHARING_VIOLATION, 1);
}

}  // namespace

TEST_CASE("a device's ports reach their own device after others arrive, leave or fail to open") {
  const Scenario scenarios[] = {
      {"a device arrives before it", {"B"}, 0,
       [](std::vector<winsim::DeviceId>& devices) { devices.push_back(testing::Plug(Serial("A"))); }},
      {"the device before it leaves", {"A", "B"}, 1,
       [](std::vector<winsim::DeviceId>& devices) { winsim::UnplugDevice(devices[0]); }},
      {"an interface before it fails to open once", {"A", "B", "C"}, 1, [](std::vector<winsim::DeviceId>&) {}, true},
  };
  for (const Scenario& s : scenarios) {
    CAPTURE(s.what);
    testing::ConnectionFixture fixture;
    std::vector<winsim::DeviceId> devices;
    for (const std::string& serial : s.plugged) devices.push_back(testing::Plug(Serial(serial)));
    const std::string own = testing::PathOf(devices[static_cast<size_t>(s.ownIndex)]);
    TarrowinHiddenMIDI::Device* device = fixture.connection->CreateDevice(s.ownIndex);
    REQUIRE(device != nullptr);
    s.change(devices);

    ArmOpenFault(s);
    TarrowinHiddenMIDI::Output* output = device->OpenOutput(0);
    REQUIRE(output != nullptr);
    const unsigned char note[] = {0x90, 0x3C, 0x40};
    output->Send(note, 3);
    testing::Destroy(output);
    for (winsim::DeviceId id : devices)
      CHECK(winsim::CapturedWrites(testing::PathOf(id)).size() == (testing::PathOf(id) == own ? 1u : 0u));

    ArmOpenFault(s);
    testing::Received received;
    TarrowinHiddenMIDI::Input* input = device->OpenInput(0);
    REQUIRE(input != nullptr);
    input->SetCallback(testing::Collect, &received);
    CHECK(testing::WaitForPendingRead(own));
    for (winsim::DeviceId id : devices)
      if (testing::PathOf(id) != own) winsim::ReceiveMidi(testing::PathOf(id), {0xB0, 0x07, 0x01});
    winsim::ReceiveMidi(own, {0x80, 0x3C, 0x00});
    CHECK(testing::WaitUntil([&] { return received.Count() == 1; }));
    CHECK(received.All() == std::vector<BYTE>{0x80, 0x3C, 0x00});
    testing::Destroy(input);
    testing::Destroy(device);
  }
}

TEST_CASE("a device whose own interface is gone gets no ports; index 1 still names the next position") {
  testing::ConnectionFixture fixture;
  winsim::DeviceId a = testing::Plug(Serial("A"));
  winsim::DeviceId b = testing::Plug(Serial("B"));
  TarrowinHiddenMIDI::Device* device = fixture.connection->CreateDevice(0);
  REQUIRE(device != nullptr);
  winsim::UnplugDevice(a);
  winsim::DeviceId c = testing::Plug(Serial("C"));
  CHECK(device->OpenOutput(0) == nullptr);
  CHECK(device->OpenInput(0) == nullptr);
  // Position 0 + 1 is C now (B is at 0): index 1 keeps its arithmetic.
  TarrowinHiddenMIDI::Output* next = device->OpenOutput(1);
  REQUIRE(next != nullptr);
  const unsigned char clock[] = {0xF8};
  next->Send(clock, 1);
  testing::Destroy(next);
  CHECK(winsim::CapturedWrites(testing::PathOf(c)).size() == 1);
  CHECK(winsim::CapturedWrites(testing::PathOf(b)).empty());
  testing::Destroy(device);
}
