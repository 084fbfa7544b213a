// The hidden-port devices present now, found by a fresh enumeration on every call.
#pragma once

#include "ks/midi_filter.h"

// Number of devices whose filter exposes a hidden MIDI port.
unsigned int CountHiddenPortDevices();

// The filter at `position` in a fresh enumeration, with one reference added for the caller;
// null when the position is negative or not below the number of devices found.
CKsMidiFilter* ReferenceHiddenPortFilter(LONG position);

// The same, for a device that knows its own interface path: when the filter at `position` is
// another interface (devices arrived, left or failed to open since the device was made), the
// device's own interface from the same enumeration, wherever it now is; null when it is gone.
CKsMidiFilter* ReferenceOwnHiddenPortFilter(LONG position, LPCSTR pszOwnPath);
