// Devices and a connection for the client library's device and port scenarios.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/TarrowinHiddenMIDI.h"
#include "support/host_delete.h"
#include "support/machine.h"
#include "winsim/control_ks.h"
#include "winsim/machine.h"

namespace testing {

struct HiddenDevice {
  std::string instanceId = "USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000";
  GUID subFormat = winsim::kDriverHiddenMidiSubFormat1;
  std::optional<std::vector<BYTE>> friendlyName = winsim::FriendlyNameValue("Tarrowin MIDI");
  bool loopback = false;
  bool withInputPin = true;
  bool withOutputPin = true;
  std::string pathOverride;
};

winsim::DeviceId Plug(const HiddenDevice& device);
winsim::DeviceId PlugOrdinaryAudio(int serial, bool withMidiPort = true);
std::string PathOf(winsim::DeviceId device);

// A connection for the test's thread; destroyed with the fixture.
class ConnectionFixture : public Machine {
 public:
  ConnectionFixture();
  ~ConnectionFixture();
  TarrowinHiddenMIDI::Connection* connection = nullptr;
};

// One device, opened the way a host opens it; destroyed with the fixture.
struct OpenDevice : ConnectionFixture {
  explicit OpenDevice(const HiddenDevice& hidden = {});
  ~OpenDevice();
  winsim::DeviceId id;
  std::string path;
  TarrowinHiddenMIDI::Device* device;
};

// Collects what an input delivers; the callback runs on the input's receive thread.
struct Received {
  std::vector<std::vector<BYTE>> records;
  std::vector<DWORD> threads;
  size_t Count();
  std::vector<BYTE> All();
};
void TARROWIN_CALLBACK Collect(const unsigned char* data, unsigned int count, void* context);

// Waits until the interface's pin `pinId` runs with a read pending.
bool WaitForPendingRead(const std::string& path, ULONG pinId = 1);

}  // namespace testing
