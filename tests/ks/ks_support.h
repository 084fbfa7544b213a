// Shared helpers of the kernel-streaming layer's tests: devices on the simulated machine,
// filters held by a reference, and the trace lines a test expects at the built trace level.
#pragma once

#include <doctest/doctest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ks/filter.h"
#include "ks/matchers.h"
#include "ks/pin.h"
#include "ks/refcount.h"
#include "ks/trace.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"
#include "winsim/machine.h"

namespace kstest {

// Plugs a device whose one interface is the given filter; returns the interface path.
std::string PlugFilter(const winsim::FilterDesc& filter, const std::string& instanceId = "USB\\VID_1A2B&PID_0A3C\\1");

// One counted reference to a filter.
using FilterPtr = KsRef<CKsFilter>;

// A filter (or MIDI filter) constructed for the path, not opened; the test fails if construction
// fails.
template <class Filter = CKsFilter>
KsRef<Filter> ConstructedFilter(const std::string& path) {
  HRESULT hr = E_FAIL;
  KsRef<Filter> filter(new Filter(path.c_str(), &hr));
  REQUIRE(hr == S_OK);
  return filter;
}

// The same filter opened.
template <class Filter = CKsFilter>
KsRef<Filter> OpenFilter(const std::string& path) {
  KsRef<Filter> filter = ConstructedFilter<Filter>(path);
  REQUIRE(filter->Instantiate() == S_OK);
  return filter;
}

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
