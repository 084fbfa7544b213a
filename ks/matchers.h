// The process-wide data-range matcher that decides which pin factories are MIDI pins.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// The hidden MIDI port subformats, which the package's driver puts into its hidden pins.
inline constexpr GUID KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1 = {
    0x7B80F763, 0x4FDB, 0x4168, {0x9E, 0x5E, 0x24, 0xB8, 0xF6, 0x95, 0xAC, 0xBB}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_2 = {
    0x39D30B88, 0x6CFE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// A matcher reads one data range as a KSDATARANGE_MUSIC and says whether it is acceptable.
typedef BOOL (*DataRangeMatcher)(const KSDATARANGE* pDataRange);

// A non-null matcher becomes the process-wide matcher; null keeps the current one.
void SetDataRangeMatcher(DataRangeMatcher matcher);

// Ordinary MIDI port pins: music / MIDI / port technology. The initial matcher.
BOOL IsMidiPortDataRange(const KSDATARANGE* pDataRange);

// The hidden MIDI port pins: music / either hidden subformat / port technology.
BOOL IsHiddenMidiDataRange(const KSDATARANGE* pDataRange);

// The bytes of a range that a matcher reads: up to the end of KSDATARANGE_MUSIC's Technology.
inline constexpr ULONG kMatcherReadSize = offsetof(KSDATARANGE_MUSIC, Technology) + sizeof(GUID);

// Asks the current matcher about the ranges that WalkDataRanges (ks/multiple_item.h) finds,
// at most `ulCount` in the `cbRanges` bytes from `pFirst`: each range whose first
// kMatcherReadSize bytes lie inside those bytes, whatever its FormatSize.
BOOL HasMatchingDataRange(const KSDATARANGE* pFirst, ULONG ulCount, ULONG cbRanges);
