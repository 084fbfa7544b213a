// Turns a stream of raw MIDI bytes into readable messages. Records from the device are cut
// anywhere, so the decoder keeps its state between calls, including running status.
#pragma once

#include <string>
#include <vector>

class MidiDecoder {
 public:
  // Returns the messages completed by these bytes, one line each.
  std::vector<std::string> Feed(const unsigned char* bytes, unsigned count);

 private:
  std::string Describe() const;

  unsigned char m_status = 0;
  unsigned char m_data[2] = {0, 0};
  unsigned m_dataCount = 0;
  bool m_inSysEx = false;
  unsigned m_sysExLength = 0;
};
