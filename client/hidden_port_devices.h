// The hidden-port devices present now, found by a fresh enumeration on every call.
#pragma once

#include "ks/midi_filter.h"

// Number of devices whose filter exposes a hidden MIDI port.
unsigned int CountHiddenPortDevices();

// The filter at `position` in a fresh enumeration, with one reference added for the caller;
// null when the position is negative or not below the number of devices found.
CKsMidiFilter* ReferenceHiddenPortFilter(LONG position);
