#include "midi_decoder.h"

#include <cstdio>

namespace {

// Data bytes that follow a channel status, by its high nibble 0x8 to 0xE.
unsigned DataBytesFor(unsigned char status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    default:
      return 2;
  }
}

std::string Format(const char* format, int a, int b = 0, int c = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

std::string RealTimeName(unsigned char byte) {
  switch (byte) {
    case 0xF8: return "Timing Clock";
    case 0xFA: return "Start";
    case 0xFB: return "Continue";
    case 0xFC: return "Stop";
    case 0xFE: return "Active Sensing";
    case 0xFF: return "System Reset";
    default: return Format("System byte 0x%02X", byte);
  }
}

}  // namespace

std::string MidiDecoder::Describe() const {
  int channel = (m_status & 0x0F) + 1;
  switch (m_status & 0xF0) {
    case 0x80: return Format("Note Off    ch %2d  key %3d  velocity %3d", channel, m_data[0], m_data[1]);
    case 0x90: return Format("Note On     ch %2d  key %3d  velocity %3d", channel, m_data[0], m_data[1]);
    case 0xA0: return Format("Aftertouch  ch %2d  key %3d  pressure %3d", channel, m_data[0], m_data[1]);
    case 0xB0: return Format("Control     ch %2d  controller %3d  value %3d", channel, m_data[0], m_data[1]);
    case 0xC0: return Format("Program     ch %2d  program %3d", channel, m_data[0]);
    case 0xD0: return Format("Pressure    ch %2d  pressure %3d", channel, m_data[0]);
    default: return Format("Pitch Bend  ch %2d  value %5d", channel, (m_data[1] << 7 | m_data[0]) - 8192);
  }
}

std::vector<std::string> MidiDecoder::Feed(const unsigned char* bytes, unsigned count) {
  std::vector<std::string> messages;
  for (unsigned i = 0; i < count; ++i) {
    unsigned char byte = bytes[i];
    if (byte >= 0xF8) {  // real-time bytes may stand anywhere, even inside a message
      messages.push_back(RealTimeName(byte));
    } else if (byte == 0xF0) {
      m_inSysEx = true;
      m_sysExLength = 1;
      m_status = 0;
    } else if (byte == 0xF7 && m_inSysEx) {
      m_inSysEx = false;
      messages.push_back(Format("SysEx       %d bytes", static_cast<int>(m_sysExLength + 1)));
    } else if (m_inSysEx && byte < 0x80) {
      ++m_sysExLength;
    } else if (byte >= 0x80) {
      m_inSysEx = false;
      m_status = byte < 0xF0 ? byte : 0;
      m_dataCount = 0;
      if (byte >= 0xF0) messages.push_back(Format("System byte 0x%02X", byte));
    } else if (m_status != 0) {  // a data byte, under the current or running status
      m_data[m_dataCount++] = byte;
      if (m_dataCount == DataBytesFor(m_status)) {
        messages.push_back(Describe());
        m_dataCount = 0;
      }
    }
  }
  return messages;
}
