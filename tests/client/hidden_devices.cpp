#include "client/hidden_devices.h"

#include <doctest/doctest.h>

#include <mutex>

namespace testing {
namespace {
std::mutex g_receivedLock;
}  // namespace

winsim::DeviceId Plug(const HiddenDevice& device) {
  winsim::InterfaceDesc desc;
  desc.friendlyName = device.friendlyName;
  desc.filter = winsim::HiddenMidiFilter(device.subFormat, device.loopback);
  if (!device.withInputPin) desc.filter.pins.pop_back();
  if (!device.withOutputPin) desc.filter.pins.erase(desc.filter.pins.begin());
  desc.pathOverride = device.pathOverride;
  return winsim::PlugDevice({device.instanceId, {desc}});
}

winsim::DeviceId PlugOrdinaryAudio(int serial, bool withMidiPort) {
  winsim::InterfaceDesc desc;
  desc.friendlyName = winsim::FriendlyNameValue("Audio " + std::to_string(serial));
  desc.filter = winsim::OrdinaryAudioFilter(withMidiPort);
  return winsim::PlugDevice({"HDAUDIO\\FUNC_01&VEN_10EC\\4&" + std::to_string(serial), {desc}});
}

std::string PathOf(winsim::DeviceId device) { return winsim::InterfacePath(device); }

ConnectionFixture::ConnectionFixture() : connection(VODICreate(nullptr, nullptr)) { REQUIRE(connection != nullptr); }

ConnectionFixture::~ConnectionFixture() { VODIDestroy(connection); }

OpenDevice::OpenDevice(const HiddenDevice& hidden) : id(Plug(hidden)), path(PathOf(id)) {
  device = connection->CreateDevice(0);
  REQUIRE(device != nullptr);
}

OpenDevice::~OpenDevice() { Destroy(device); }

size_t Received::Count() {
  std::lock_guard guard(g_receivedLock);
  return records.size();
}

std::vector<BYTE> Received::All() {
  std::lock_guard guard(g_receivedLock);
  std::vector<BYTE> all;
  for (const auto& record : records) all.insert(all.end(), record.begin(), record.end());
  return all;
}

void TARROWIN_CALLBACK Collect(const unsigned char* data, unsigned int count, void* context) {
  auto* received = static_cast<Received*>(context);
  std::lock_guard guard(g_receivedLock);
  received->records.emplace_back(data, data + count);
  received->threads.push_back(GetCurrentThreadId());
}

bool WaitForPendingRead(const std::string& path, ULONG pinId) {
  return WaitUntil([&] {
    for (const auto& pin : winsim::PinInstances(path))
      if (pin.pinId == pinId && pin.open && pin.state == KSSTATE_RUN && pin.pendingReads == 1) return true;
    return false;
  });
}

}  // namespace testing
