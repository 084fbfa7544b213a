// The embedded default machine, so that a host and devsetup run out of the box on the simulator.
#include "winsim/control_device_records.h"
#include "winsim/control_files.h"
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

const char kHiddenPortInstance[] = "USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000";

// The package's INF as the installer unpacks it beside devsetup.
const char kPackageInf[] =
    "; Tarrowin hidden MIDI driver package\r\n"
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=MEDIA\r\n"
    "ClassGUID={4d36e96c-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider=%Tarrowin%\r\n"
    "DriverVer=12/07/2026,1.0.0.0\r\n"
    "CatalogFile=tarrowin.cat\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Tarrowin%=Tarrowin,NTamd64,NTx86\r\n"
    "\r\n"
    "[Tarrowin.NTamd64]\r\n"
    "%MidiInterface.DeviceDesc%=TarrowinMidi.Install, USB\\VID_1A86&PID_0A3C&MI_00\r\n"
    "%MidiInterface2.DeviceDesc%=TarrowinMidi.Install, USB\\VID_1A86&PID_0A3D&MI_00\r\n"
    "\r\n"
    "[Tarrowin.NTx86]\r\n"
    "%MidiInterface.DeviceDesc%=TarrowinMidi.Install, USB\\VID_1A86&PID_0A3C&MI_00\r\n"
    "%MidiInterface2.DeviceDesc%=TarrowinMidi.Install, USB\\VID_1A86&PID_0A3D&MI_00\r\n"
    "\r\n"
    "[TarrowinMidi.Install]\r\n"
    "Include=ks.inf, wdmaudio.inf\r\n"
    "Needs=KS.Registration, WDMAUDIO.Registration\r\n"
    "CopyFiles=TarrowinMidi.CopyList\r\n"
    "\r\n"
    "[TarrowinMidi.CopyList]\r\n"
    "tarrowin.sys\r\n"
    "\r\n"
    "[CustomClassCoInstaller]\r\n"
    "UseClassCoInstaller = classhook.dll ; the package's own\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Tarrowin=\"Tarrowin\"\r\n"
    "MidiInterface.DeviceDesc=\"Tarrowin MIDI Interface\"\r\n"
    "MidiInterface2.DeviceDesc=\"Tarrowin MIDI Interface II\"\r\n";

DeviceRecordDesc UsbRecord(const std::string& instance, const std::string& product, bool present) {
  DeviceRecordDesc record;
  record.instanceId = instance;
  record.hardwareIds = {"USB\\VID_1A86&" + product + "&REV_0100&MI_00", "USB\\VID_1A86&" + product + "&MI_00"};
  record.compatibleIds = {"USB\\Class_01&SubClass_03&Prot_00", "USB\\Class_01&SubClass_03", "USB\\Class_01"};
  record.present = present;
  record.description = "USB Audio Device";
  return record;
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
  machine.hiddenPortRecord = AddDeviceRecord(UsbRecord(kHiddenPortInstance, "PID_0A3C", true));
  machine.hiddenPortDevice =
      PlugDevice({kHiddenPortInstance,
                  {AudioInterface("Tarrowin MIDI Interface", HiddenMidiFilter(kDriverHiddenMidiSubFormat1, true))}});
  machine.unpluggedRecord = AddDeviceRecord(UsbRecord("USB\\VID_1A86&PID_0A3D&MI_00\\6&2B3C4D5E&0&0000", "PID_0A3D",
                                                      false));
  PutFile(kDefaultPackageInf, kPackageInf);
  return machine;
}

}  // namespace winsim
