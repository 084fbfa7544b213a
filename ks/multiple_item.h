// A KSMULTIPLE_ITEM answer comes from the driver: its Size and Count are input. These helpers
// say how much of a received block lies inside it, so nothing reads past it.
#pragma once

#include "platform/win32.h"

// The block's 8-byte header; NULL when the block cannot hold it.
inline const KSMULTIPLE_ITEM* MultipleItemHeader(const BYTE* pBlock, ULONG cbBlock) {
  return pBlock != NULL && cbBlock >= sizeof(KSMULTIPLE_ITEM) ? reinterpret_cast<const KSMULTIPLE_ITEM*>(pBlock)
                                                               : NULL;
}

// The first item, right after the header; NULL when the block cannot hold the header.
inline BYTE* FirstItem(BYTE* pBlock, ULONG cbBlock) {
  return MultipleItemHeader(pBlock, cbBlock) != NULL ? pBlock + sizeof(KSMULTIPLE_ITEM) : NULL;
}

// Count, limited to the items of cbItem bytes that lie inside both Size and the block.
ULONG FixedItemCount(const BYTE* pBlock, ULONG cbBlock, ULONG cbItem);

// Count, limited to the leading data ranges that lie whole inside the block, whatever Size
// says: drivers are known to send a Size that does not cover the ranges they filled.
ULONG DataRangeCount(const BYTE* pBlock, ULONG cbBlock);

// Walks data ranges laid out as a KSMULTIPLE_ITEM lays them out: at most ulCount of them from
// pFirst, each taking its FormatSize rounded up to 8 bytes, within the cbRanges bytes from
// pFirst. A range is visited only while a whole KSDATARANGE of it lies inside those bytes;
// visit(range, bytes from its start to their end) says whether to go on. A range whose end
// cannot be found (FormatSize below a KSDATARANGE) or that reaches the end of the bytes ends
// the walk. The step is computed wide, so that no FormatSize a driver sends wraps it.
template <class Visit>
void WalkDataRanges(const BYTE* pFirst, ULONG ulCount, ULONG cbRanges, Visit visit) {
  ULONG offset = 0;
  for (ULONG i = 0; i < ulCount && cbRanges - offset >= sizeof(KSDATARANGE); ++i) {
    const KSDATARANGE* pRange = reinterpret_cast<const KSDATARANGE*>(pFirst + offset);
    if (!visit(pRange, cbRanges - offset)) return;
    ULONGLONG cbStep = (static_cast<ULONGLONG>(pRange->FormatSize) + 7u) & ~7ull;
    if (pRange->FormatSize < sizeof(KSDATARANGE) || cbStep >= cbRanges - offset) return;
    offset += static_cast<ULONG>(cbStep);
  }
}
