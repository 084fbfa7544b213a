#include "campaign/held_back.h"

namespace campaign {
namespace {

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

std::vector<HeldBack> HeldBackFaults() {
  return {
      // A port reaches its device by position in a fresh enumeration: when one enumeration
      // misses a device, a port of the other device opens it.
      {"issue-11 C.1: port opened on another device",
       [](const std::string& scenario, const FaultPoint&, const std::string& violation) {
         return Contains(scenario, "two devices") && Contains(violation, "another device's stream");
       }},
      // After a failed wait the receive loop queues a second read on the OVERLAPPED in use.
      {"issue-11 C.7: a second read on an OVERLAPPED in use",
       [](const std::string&, const FaultPoint& point, const std::string& violation) {
         return point.call == "WaitForSingleObject" && Contains(violation, "two reads were pending");
       }},
      // One read that fails at once silences the input for good: the loop waits on an event
      // nobody signals while the device stays present.
      {"issue-11 C.8: one failed read silences the input",
       [](const std::string&, const FaultPoint&, const std::string& violation) {
         return Contains(violation, "no longer delivers");
       }},
  };
}

}  // namespace campaign
