#include "ks/matchers.h"

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

// Written by VODICreate while other threads may enumerate: a plain, unlocked value, made
// atomic only so that the read and the write are well defined.
std::atomic<DataRangeMatcher> g_dataRangeMatcher{IsMidiPortDataRange};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

const KSDATARANGE_MUSIC* AsMusic(const KSDATARANGE* pDataRange) {
  return reinterpret_cast<const KSDATARANGE_MUSIC*>(pDataRange);
}

// Ranges inside a multiple-item value start on 8-byte boundaries; computed wide, so that no
// FormatSize a driver sends wraps it.
ULONGLONG AlignedRangeSize(ULONG formatSize) { return (static_cast<ULONGLONG>(formatSize) + 7u) & ~7ull; }

static_assert(offsetof(KSDATARANGE_MUSIC, Technology) + sizeof(GUID) == kMatcherReadSize,
              "a matcher reads up to the end of Technology");

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
    // A matcher reads the range's first 80 bytes, whatever its FormatSize says: a music range
    // from a driver built with 4-byte packing is 92 bytes, not 96.
    if (cbRanges - offset < kMatcherReadSize) return FALSE;
    const KSDATARANGE* pRange = reinterpret_cast<const KSDATARANGE*>(pBlock + offset);
    if (g_dataRangeMatcher.load(std::memory_order_relaxed)(pRange)) return TRUE;
    // A size below a bare KSDATARANGE cannot be stepped over safely: the block is malformed.
    ULONGLONG step = AlignedRangeSize(pRange->FormatSize);
    if (pRange->FormatSize < sizeof(KSDATARANGE) || step >= cbRanges - offset) return FALSE;
    offset += static_cast<ULONG>(step);
  }
  return FALSE;
}
