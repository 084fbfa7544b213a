// Shared helpers of the kernel-streaming layer's tests: devices on the simulated machine,
// filters held by a reference, and the trace lines a test expects at the built trace level.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ks/filter.h"
#include "ks/matchers.h"
#include "ks/pin.h"
#include "ks/trace.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"
#include "winsim/machine.h"

namespace kstest {

// Plugs a device whose one interface is the given filter; returns the interface path.
std::string PlugFilter(const winsim::FilterDesc& filter, const std::string& instanceId = "USB\\VID_1A2B&PID_0A3C\\1");

struct DropFilter {
  void operator()(CKsFilter* filter) const { DropReference(filter); }
};
using FilterPtr = std::unique_ptr<CKsFilter, DropFilter>;

// A filter constructed for the path and opened; the test fails if either step fails.
FilterPtr OpenFilter(const std::string& path);

// Debugger lines without the separate line ends.
std::vector<std::string> Lines();
// The lines that are not entry or exit lines: the messages of levels 1 to 5.
std::vector<std::string> Messages();

// The messages a build writes: those whose level passes its threshold.
std::vector<std::string> Expected(const std::vector<std::pair<int, std::string>>& messages);
inline bool Verbose() { return KS_TRACE_LEVEL >= TRACE_FLOW; }

// A standard connection request for a pin: KSPIN_CONNECT, then the format of its first range.
struct ConnectRequest {
  KSPIN_CONNECT connect;
  KSDATAFORMAT format;
};
ConnectRequest ConnectRequestFor(const CKsPin& pin);

// Render and capture pins of the hidden port, as the driver describes them.
winsim::FilterDesc MidiPort();

// A KSMULTIPLE_ITEM answer as a driver may send it: a header of this Size and Count, then the bytes.
std::vector<BYTE> MultipleItem(ULONG size, ULONG count, const std::vector<BYTE>& items);

}  // namespace kstest
