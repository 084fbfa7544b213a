// A KSMULTIPLE_ITEM answer comes from the driver: its Size and Count are input. These helpers
// say how much of it lies inside the block actually received, so nothing reads past it.
#pragma once

#include "platform/win32.h"

// Bytes of items behind the header: Size minus the header, limited to the block; 0 when the
// block or Size cannot even hold the header.
ULONG MultipleItemBytes(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock);

// Count, limited to the items of cbItem bytes that lie inside the block.
ULONG FixedItemCount(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock, ULONG cbItem);

// Bytes of the block behind the header, whatever Size says: data ranges are read up to the
// block, since drivers are known to send a Size that does not cover the ranges they filled.
ULONG BlockItemBytes(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock);

// Count, limited to the leading data ranges that lie whole inside the block; each range takes
// its FormatSize rounded up to 8 bytes and is at least a KSDATARANGE.
ULONG DataRangeCount(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock);

// The first item, right after the 8-byte header; NULL when the block cannot hold the header.
inline BYTE* FirstItem(KSMULTIPLE_ITEM* pItem, ULONG cbBlock) {
  return pItem != NULL && cbBlock >= sizeof(KSMULTIPLE_ITEM) ? reinterpret_cast<BYTE*>(pItem + 1) : NULL;
}
