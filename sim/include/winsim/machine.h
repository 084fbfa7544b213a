// The simulated machine's devices: what tests and the sample host plug in and unplug.
// Part of the control API, not of Windows.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace winsim {

// One pin factory of a kernel-streaming filter, as the driver describes it.
struct PinFactoryDesc {
  // Each entry is one complete data range record (FormatSize bytes, FormatSize set).
  std::vector<std::vector<BYTE>> dataRanges;
  ULONG dataFlow = KSPIN_DATAFLOW_IN;
  ULONG communication = KSPIN_COMMUNICATION_SINK;
  std::vector<KSIDENTIFIER> interfaces;
  std::vector<KSIDENTIFIER> mediums;
  KSPIN_CINSTANCES instances = {1, 0};
  KSPIN_CINSTANCES globalInstances = {1, 0};
  GUID category = GUID_NULL;
  std::wstring name;
  // Non-zero: every property request about this pin factory fails with this error (a pin
  // factory that answers nothing).
  DWORD propertyError = 0;
  // Exact bytes answered for a KSPROPSETID_Pin property id instead of the value built from the
  // fields above: malformed or empty answers.
  std::map<ULONG, std::vector<BYTE>> rawAnswers;
};

// The kernel-streaming filter behind one device interface.
struct FilterDesc {
  std::vector<PinFactoryDesc> pins;
  std::vector<GUID> nodes;  // topology node types, one per node
  // Exact bytes answered for KSPROPERTY_TOPOLOGY_NODES instead of the value built from `nodes`.
  std::optional<std::vector<BYTE>> rawNodes;
  // Exact bytes answered for KSPROPERTY_PIN_CTYPES instead of the number of `pins`.
  std::optional<std::vector<BYTE>> rawPinCount;
  // How a property size query (output size 0) is answered: ERROR_MORE_DATA or
  // ERROR_INSUFFICIENT_BUFFER, with the needed size as the byte count.
  DWORD sizeQueryError = ERROR_MORE_DATA;
  // A hidden MIDI port whose render pin's writes come back as reads on its capture pin.
  bool loopbackMidi = false;
};

struct InterfaceDesc {
  GUID category = KSCATEGORY_AUDIO;
  // Reference string of the interface path ("global", "wave", ...).
  std::string reference = "global";
  // The raw bytes of the interface key's "FriendlyName" value; none when absent.
  std::optional<std::vector<BYTE>> friendlyName;
  DWORD friendlyNameType = REG_SZ;
  // False: the interface has no registry key at all (SetupDiOpenDeviceInterfaceRegKey fails).
  bool hasKey = true;
  FilterDesc filter;
  // A complete interface path that replaces the generated one (odd lengths, letter case).
  std::string pathOverride;
};

struct DeviceDesc {
  // Device instance id, for example "USB\\VID_1A2B&PID_0A3C&MI_01\\7&1C2D3E4F&0&0001".
  std::string instanceId;
  std::vector<InterfaceDesc> interfaces;
};

typedef int DeviceId;

// Adds a present device; each of its interfaces arrives (device notifications are sent).
DeviceId PlugDevice(const DeviceDesc& device);
// The device's interfaces leave: opens fail, pending requests end, notifications are sent.
void UnplugDevice(DeviceId device);
// The same device, present again with the same interface paths.
void ReplugDevice(DeviceId device);

// The Windows interface path of a device's interface:
// "\\?\" + instance id with '\' as '#', lower case, + "#{category}\" + reference.
std::string InterfacePath(DeviceId device, size_t interfaceIndex = 0);

// Helpers to describe common hardware.
std::vector<BYTE> FriendlyNameValue(const std::string& name);  // with its terminating zero
std::vector<BYTE> MusicDataRange(const GUID& subFormat, const GUID& technology = KSMUSIC_TECHNOLOGY_PORT);
// A MIDI pin factory (render for KSPIN_DATAFLOW_IN, capture otherwise) with one music range,
// the standard streaming interface and the standard medium.
PinFactoryDesc MidiPinFactory(const GUID& subFormat, ULONG dataFlow,
                              ULONG communication = KSPIN_COMMUNICATION_SINK);
// A hidden MIDI port: a render-sink and a capture-sink pin factory with the given subformat.
FilterDesc HiddenMidiFilter(const GUID& hiddenSubFormat, bool loopback = false);
// An ordinary audio filter with an ordinary MIDI port (or none).
FilterDesc OrdinaryAudioFilter(bool withMidiPort);
// A filter that reports its pin factories but answers nothing else about them.
FilterDesc UnansweringFilter(size_t pinCount, DWORD error = ERROR_NOT_FOUND);
// Ordinary MIDI pin factories whose communication is KSPIN_COMMUNICATION_NONE.
FilterDesc NoCommunicationMidiFilter();

}  // namespace winsim

namespace winsim {

// The embedded default machine: ordinary audio devices beside one device with a hidden MIDI
// port whose output loops back to its input. Plugs them into the current machine.
// For the device installation calls it also has the package's INF (kDefaultPackageInf), the
// device record of the hidden-port device, and one remembered, unplugged device of the package.
struct DefaultMachine {
  DeviceId onboardAudio;
  DeviceId usbAudioWithMidi;
  DeviceId hiddenPortDevice;
  DEVINST hiddenPortRecord;
  DEVINST unpluggedRecord;
};
inline constexpr char kDefaultPackageInf[] = "C:\\Program Files\\Tarrowin\\Driver\\tarrowin.inf";
DefaultMachine LoadDefaultMachine();

// The driver's hidden MIDI port subformats, as the package's driver declares them.
inline constexpr GUID kDriverHiddenMidiSubFormat1 = {
    0x7B80F763, 0x4FDB, 0x4168, {0x9E, 0x5E, 0x24, 0xB8, 0xF6, 0x95, 0xAC, 0xBB}};
inline constexpr GUID kDriverHiddenMidiSubFormat2 = {
    0x39D30B88, 0x6CFE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

}  // namespace winsim
