#include "ks/matchers.h"

#include <atomic>
#include <cstring>

#include "ks/multiple_item.h"

namespace {

// Written by VODICreate while other threads may enumerate: a plain, unlocked value, made
// atomic only so that the read and the write are well defined.
std::atomic<DataRangeMatcher> g_dataRangeMatcher{IsMidiPortDataRange};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

const KSDATARANGE_MUSIC* AsMusic(const KSDATARANGE* pDataRange) {
  return reinterpret_cast<const KSDATARANGE_MUSIC*>(pDataRange);
}

}  // namespace

void SetDataRangeMatcher(DataRangeMatcher matcher) {
  if (matcher != NULL) g_dataRangeMatcher.store(matcher, std::memory_order_relaxed);
}

BOOL IsMidiPortDataRange(const KSDATARANGE* pDataRange) {
  const KSDATARANGE_MUSIC* music = AsMusic(pDataRange);
  return SameGuid(music->DataRange.MajorFormat, KSDATAFORMAT_TYPE_MUSIC) &&
         SameGuid(music->DataRange.SubFormat, KSDATAFORMAT_SUBTYPE_MIDI) &&
         SameGuid(music->Technology, KSMUSIC_TECHNOLOGY_PORT);
}

BOOL IsHiddenMidiDataRange(const KSDATARANGE* pDataRange) {
  const KSDATARANGE_MUSIC* music = AsMusic(pDataRange);
  if (!SameGuid(music->DataRange.MajorFormat, KSDATAFORMAT_TYPE_MUSIC)) return FALSE;
  if (!SameGuid(music->DataRange.SubFormat, KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1) &&
      !SameGuid(music->DataRange.SubFormat, KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_2))
    return FALSE;
  return SameGuid(music->Technology, KSMUSIC_TECHNOLOGY_PORT);
}

BOOL HasMatchingDataRange(const KSDATARANGE* pFirst, ULONG ulCount, ULONG cbRanges) {
  BOOL bMatch = FALSE;
  WalkDataRanges(reinterpret_cast<const BYTE*>(pFirst), ulCount, cbRanges, [&bMatch](const KSDATARANGE* pRange, ULONG cbLeft) {
    // A matcher reads the range's first 80 bytes, whatever its FormatSize says: a music range
    // from a driver built with 4-byte packing is 92 bytes, not 96.
    if (cbLeft < kMatcherReadSize) return false;
    bMatch = g_dataRangeMatcher.load(std::memory_order_relaxed)(pRange) ? TRUE : FALSE;
    return !bMatch;
  });
  return bMatch;
}
