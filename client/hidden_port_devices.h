// The hidden-port devices present now, found by a fresh enumeration on every call.
#pragma once

#include "ks/midi_filter.h"
#include "ks/refcount.h"

// Number of devices whose filter exposes a hidden MIDI port.
unsigned int CountHiddenPortDevices();

// The filter at `position` in a fresh enumeration, with a reference of the caller's own;
// empty when the position is negative or not below the number of devices found.
KsRef<CKsMidiFilter> ReferenceHiddenPortFilter(LONG position);

// The same, for a device that knows its own interface path: when the filter at `position` is
// another interface (devices arrived, left or failed to open since the device was made), the
// device's own interface from the same enumeration, wherever it now is; empty when it is gone.
KsRef<CKsMidiFilter> ReferenceOwnHiddenPortFilter(LONG position, LPCSTR pszOwnPath);
