#include "benchmarks/bench_machine.h"

#include <stdexcept>

#include "winsim/control.h"
#include "winsim/machine.h"

namespace bench {
namespace {

Machine g_machine;
std::string g_current;            // names the machine the platform holds now; empty for none
std::function<void()> g_release;  // what its builder undoes before the platform is emptied

winsim::DeviceId PlugHiddenPort(bool loopback) {
  winsim::InterfaceDesc desc;
  desc.friendlyName = winsim::FriendlyNameValue("Tarrowin MIDI");
  desc.filter = winsim::HiddenMidiFilter(winsim::kDriverHiddenMidiSubFormat1, loopback);
  return winsim::PlugDevice({"USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000", {desc}});
}

// An audio device with an ordinary MIDI port: examined by every enumeration, never listed.
void PlugOrdinaryAudio(int serial) {
  winsim::InterfaceDesc desc;
  desc.friendlyName = winsim::FriendlyNameValue("Audio " + std::to_string(serial));
  desc.filter = winsim::OrdinaryAudioFilter(true);
  winsim::PlugDevice({"HDAUDIO\\FUNC_01&VEN_10EC\\4&" + std::to_string(serial), {desc}});
}

}  // namespace

bool BeginMachine(const std::string& name, std::function<void()> release) {
  if (g_current == name) return false;
  ReleaseMachine();
  g_current = name;
  g_release = std::move(release);
  return true;
}

const Machine& UseMachine(int others, bool loopback) {
  std::string name = "audio/" + std::to_string(others) + (loopback ? "/loopback" : "");
  if (!BeginMachine(name, [] {
        if (g_machine.connection != nullptr) VODIDestroy(g_machine.connection);
        g_machine = Machine{};
      }))
    return g_machine;
  // Devices first: a connection made before would queue a notification for each of them.
  g_machine.hiddenPath = winsim::InterfacePath(PlugHiddenPort(loopback));
  for (int i = 0; i < others; ++i) PlugOrdinaryAudio(i);
  g_machine.connection = VODICreate(nullptr, nullptr);
  if (g_machine.connection == nullptr) throw std::runtime_error("VODICreate failed");
  g_machine.others = others;
  g_machine.loopback = loopback;
  return g_machine;
}

void ReleaseMachine() {
  if (g_release) g_release();
  g_release = nullptr;
  g_current.clear();
  winsim::Reset();
}

}  // namespace bench
