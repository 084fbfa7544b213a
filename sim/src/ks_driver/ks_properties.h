// Property answers of the simulated kernel-streaming filters.
#pragma once

#include "kernel32/device_io.h"

namespace winsim::detail {

struct PropertyValue {
  DWORD error = 0;
  std::vector<BYTE> bytes;
};

// The KSPROPERTY at the start of a property request's input, when there is one.
std::optional<KSPROPERTY> PropertyOf(const IoRequest& request);

// A filter's answer to a KSPROPSETID_Pin or KSPROPSETID_Topology get.
PropertyValue FilterPropertyValue(const FilterDesc& filter, const IoRequest& request);

// Copies the value into the request's output, or answers a buffer too small for it with
// `sizeQueryError` and the needed size.
IoAnswer AnswerWithValue(const PropertyValue& value, IoRequest& request, DWORD sizeQueryError);

}  // namespace winsim::detail
