#include "campaign/host.h"

#include <atomic>

#include "campaign/case_guard.h"
#include "winsim/control_ks.h"

namespace campaign {

winsim::DeviceId PlugHiddenLoopback(const std::string& pid, const std::string& name, int serial) {
  winsim::InterfaceDesc desc;
  desc.friendlyName = winsim::FriendlyNameValue(name);
  desc.filter = winsim::HiddenMidiFilter(winsim::kDriverHiddenMidiSubFormat1, true);
  return winsim::PlugDevice({"USB\\VID_1A86&PID_" + pid + "&MI_00\\7&1C2D3E4F&0&000" + std::to_string(serial), {desc}});
}

winsim::DeviceId PlugOrdinaryAudio(int serial) {
  winsim::InterfaceDesc desc;
  desc.friendlyName = winsim::FriendlyNameValue("Audio " + std::to_string(serial));
  desc.filter = winsim::OrdinaryAudioFilter(true);
  return winsim::PlugDevice({"HDAUDIO\\FUNC_01&VEN_10EC\\4&" + std::to_string(serial), {desc}});
}

void TARROWIN_CALLBACK Receiver::Collect(const unsigned char* data, unsigned int count, void* context) {
  auto* receiver = static_cast<Receiver*>(context);
  std::lock_guard guard(receiver->m_lock);
  receiver->m_records.emplace_back(data, data + count);
  receiver->m_bytes += count;
}

std::vector<std::vector<Byte>> Receiver::Records() {
  std::lock_guard guard(m_lock);
  return m_records;
}

size_t Receiver::ByteCount() {
  std::lock_guard guard(m_lock);
  return m_bytes;
}

std::vector<std::vector<Byte>> WrittenRecords(const std::string& path) {
  std::vector<std::vector<Byte>> records;
  for (const winsim::CapturedWrite& write : winsim::CapturedWrites(path)) records.push_back(write.bytes);
  return records;
}

namespace {

enum class InputState { Reading, Busy, NotRunning };

std::atomic<size_t> g_mostPendingReads{0};

InputState StateOfInputs(const std::string& path) {
  bool running = false;
  for (const winsim::PinInstance& pin : winsim::PinInstances(path)) {
    if (pin.pinId != kCapturePinId || !pin.open || pin.state != KSSTATE_RUN) continue;
    if (pin.pendingReads > g_mostPendingReads.load()) g_mostPendingReads.store(pin.pendingReads);
    running = true;
    if (pin.pendingReads == 0) return InputState::Busy;
  }
  return running ? InputState::Reading : InputState::NotRunning;
}

}  // namespace

bool WaitForReading(const std::string& path, int limitMs) {
  return WaitUntil([&] { return StateOfInputs(path) == InputState::Reading; }, std::chrono::milliseconds(limitMs));
}

bool WaitForQuiet(const std::string& path, Receiver& receiver, size_t expected, int limitMs, bool pumpMessages) {
  return WaitUntil(
      [&] {
        if (pumpMessages) PumpMessages();
        return receiver.ByteCount() >= expected || StateOfInputs(path) != InputState::Busy;
      },
      std::chrono::milliseconds(limitMs));
}

bool WaitForByteCount(Receiver& receiver, size_t expected, int limitMs, bool pumpMessages) {
  return WaitUntil(
      [&] {
        if (pumpMessages) PumpMessages();
        return receiver.ByteCount() >= expected;
      },
      std::chrono::milliseconds(limitMs));
}

size_t MostPendingReadsSeen() { return g_mostPendingReads.load(); }

void ResetPendingReadsSeen() { g_mostPendingReads.store(0); }

}  // namespace campaign
