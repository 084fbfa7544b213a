#include "ks_support.h"

#include <cstring>

#include "ks/matchers.h"

namespace kstest {

std::string PlugFilter(const winsim::FilterDesc& filter, const std::string& instanceId) {
  winsim::DeviceDesc device;
  device.instanceId = instanceId;
  winsim::InterfaceDesc interface;
  interface.filter = filter;
  device.interfaces.push_back(interface);
  return winsim::InterfacePath(winsim::PlugDevice(device));
}

std::vector<std::string> Lines() {
  std::vector<std::string> lines;
  for (const std::string& line : winsim::DebugOutput())
    if (line != "\r\n") lines.push_back(line);
  return lines;
}

std::vector<std::string> Messages() {
  std::vector<std::string> messages;
  for (const std::string& line : Lines()) {
    bool flow = line.ends_with(" Enter") || line.ends_with(" Leave") || line.find(" Leave, returning ") != std::string::npos;
    if (!flow) messages.push_back(line);
  }
  return messages;
}

std::vector<std::string> Expected(const std::vector<std::pair<int, std::string>>& messages) {
  std::vector<std::string> written;
  for (const auto& [level, text] : messages)
    if (level <= KS_TRACE_LEVEL) written.push_back(text);
  return written;
}

ConnectRequest ConnectRequestFor(const CKsPin& pin) {
  ConnectRequest request{};
  request.connect.Interface.Set = KSINTERFACESETID_Standard;
  request.connect.Medium.Set = KSMEDIUMSETID_Standard;
  request.connect.PinId = pin.m_nId;
  request.connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
  request.connect.Priority.PrioritySubClass = 1;
  REQUIRE(pin.m_cDataRanges > 0);
  std::memcpy(&request.format, pin.m_pDataRanges, sizeof request.format);
  request.format.FormatSize = sizeof request.format;
  return request;
}

winsim::FilterDesc MidiPort() { return winsim::HiddenMidiFilter(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1); }

std::vector<BYTE> MultipleItem(ULONG size, ULONG count, const std::vector<BYTE>& items) {
  KSMULTIPLE_ITEM header{size, count};
  // Sized once: growing an 8-byte vector makes GCC 12 at -O3 see a copy past it.
  std::vector<BYTE> bytes(sizeof header + items.size());
  std::memcpy(bytes.data(), &header, sizeof header);
  if (!items.empty()) std::memcpy(bytes.data() + sizeof header, items.data(), items.size());
  return bytes;
}

}  // namespace kstest
