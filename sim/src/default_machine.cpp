// The embedded default machine, so that a host runs out of the box on the simulator.
#include "winsim/machine.h"

namespace winsim {
namespace {

InterfaceDesc AudioInterface(const std::string& name, FilterDesc filter, const std::string& reference = "global") {
  InterfaceDesc desc;
  desc.category = KSCATEGORY_AUDIO;
  desc.reference = reference;
  desc.friendlyName = FriendlyNameValue(name);
  desc.filter = std::move(filter);
  return desc;
}

}  // namespace

DefaultMachine LoadDefaultMachine() {
  DefaultMachine machine{};
  machine.onboardAudio = PlugDevice({"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0897&SUBSYS_10431F43\\4&2E1C7A2B&0&0001",
                                     {AudioInterface("Speakers (High Definition Audio)", OrdinaryAudioFilter(false),
                                                     "speakers")}});
  machine.usbAudioWithMidi =
      PlugDevice({"USB\\VID_0582&PID_0174&MI_01\\6&3A9F1C2&0&0001",
                  {AudioInterface("USB Audio Interface", OrdinaryAudioFilter(true))}});
  machine.hiddenPortDevice =
      PlugDevice({"USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000",
                  {AudioInterface("Tarrowin MIDI Interface", HiddenMidiFilter(kDriverHiddenMidiSubFormat1, true))}});
  return machine;
}

}  // namespace winsim
