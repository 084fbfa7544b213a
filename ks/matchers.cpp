#include "ks/matchers.h"

#include <atomic>
#include <cstring>

namespace {

// Written by VODICreate while other threads may enumerate: a plain, unlocked value, made
// atomic only so that the read and the write are well defined.
std::atomic<DataRangeMatcher> g_dataRangeMatcher{IsMidiPortDataRange};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

const KSDATARANGE_MUSIC* AsMusic(const KSDATARANGE* pDataRange) {
  return reinterpret_cast<const KSDATARANGE_MUSIC*>(pDataRange);
}

// Ranges inside a multiple-item value start on 8-byte boundaries.
ULONG AlignedRangeSize(ULONG formatSize) { return (formatSize + 7u) & ~7u; }

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
  const BYTE* pBlock = reinterpret_cast<const BYTE*>(pFirst);
  ULONG offset = 0;
  for (ULONG i = 0; i < ulCount; ++i) {
    if (cbRanges - offset < sizeof(KSDATARANGE)) return FALSE;
    const KSDATARANGE* pRange = reinterpret_cast<const KSDATARANGE*>(pBlock + offset);
    ULONG formatSize = pRange->FormatSize;
    // A size below a bare KSDATARANGE cannot be stepped over safely: the block is malformed.
    if (formatSize < sizeof(KSDATARANGE) || formatSize > cbRanges - offset) return FALSE;
    if (formatSize >= sizeof(KSDATARANGE_MUSIC) && g_dataRangeMatcher.load(std::memory_order_relaxed)(pRange)) return TRUE;
    ULONG step = AlignedRangeSize(formatSize);
    if (step > cbRanges - offset) return FALSE;
    offset += step;
  }
  return FALSE;
}
