// Ready-made descriptions of the filters and values machines are built from: MIDI pin
// factories and their data ranges, the hidden-port filter, ordinary audio filters, filters
// that answer nothing, friendly names.
#include <cstring>

#include "winsim/machine.h"

namespace winsim {

std::vector<BYTE> FriendlyNameValue(const std::string& name) {
  std::vector<BYTE> value(name.begin(), name.end());
  value.push_back(0);
  return value;
}

std::vector<BYTE> MusicDataRange(const GUID& subFormat, const GUID& technology) {
  KSDATARANGE_MUSIC range{};
  range.DataRange.FormatSize = sizeof range;
  range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
  range.DataRange.SubFormat = subFormat;
  range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
  range.Technology = technology;
  range.Channels = 0;
  range.Notes = 0;
  range.ChannelMask = 0xFFFF;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&range);
  return std::vector<BYTE>(bytes, bytes + sizeof range);
}

PinFactoryDesc MidiPinFactory(const GUID& subFormat, ULONG dataFlow, ULONG communication) {
  PinFactoryDesc pin;
  pin.dataRanges.push_back(MusicDataRange(subFormat));
  pin.dataFlow = dataFlow;
  pin.communication = communication;
  KSIDENTIFIER standardInterface{};
  standardInterface.Set = KSINTERFACESETID_Standard;
  standardInterface.Id = KSINTERFACE_STANDARD_STREAMING;
  pin.interfaces.push_back(standardInterface);
  KSIDENTIFIER standardMedium{};
  standardMedium.Set = KSMEDIUMSETID_Standard;
  standardMedium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
  pin.mediums.push_back(standardMedium);
  pin.name = dataFlow == KSPIN_DATAFLOW_IN ? L"MIDI Out" : L"MIDI In";
  return pin;
}

FilterDesc HiddenMidiFilter(const GUID& hiddenSubFormat, bool loopback) {
  FilterDesc filter;
  filter.pins.push_back(MidiPinFactory(hiddenSubFormat, KSPIN_DATAFLOW_IN));
  filter.pins.push_back(MidiPinFactory(hiddenSubFormat, KSPIN_DATAFLOW_OUT));
  filter.loopbackMidi = loopback;
  return filter;
}

FilterDesc OrdinaryAudioFilter(bool withMidiPort) {
  FilterDesc filter;
  // A wave render pin whose data range is not a music range.
  PinFactoryDesc wave;
  KSDATARANGE audio{};
  audio.FormatSize = sizeof audio;
  audio.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  audio.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&audio);
  wave.dataRanges.push_back(std::vector<BYTE>(bytes, bytes + sizeof audio));
  wave.dataFlow = KSPIN_DATAFLOW_IN;
  wave.communication = KSPIN_COMMUNICATION_SINK;
  wave.name = L"Speakers";
  filter.pins.push_back(wave);
  if (withMidiPort) {
    filter.pins.push_back(MidiPinFactory(KSDATAFORMAT_SUBTYPE_MIDI, KSPIN_DATAFLOW_IN));
    filter.pins.push_back(MidiPinFactory(KSDATAFORMAT_SUBTYPE_MIDI, KSPIN_DATAFLOW_OUT));
  }
  filter.nodes = {KSNODETYPE_DAC, KSNODETYPE_VOLUME};
  return filter;
}

FilterDesc UnansweringFilter(size_t pinCount, DWORD error) {
  FilterDesc filter;
  filter.pins.resize(pinCount);
  for (PinFactoryDesc& pin : filter.pins) pin.propertyError = error;
  return filter;
}

FilterDesc NoCommunicationMidiFilter() {
  FilterDesc filter;
  filter.pins.push_back(MidiPinFactory(KSDATAFORMAT_SUBTYPE_MIDI, KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_NONE));
  filter.pins.push_back(MidiPinFactory(KSDATAFORMAT_SUBTYPE_MIDI, KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_NONE));
  return filter;
}

}  // namespace winsim
