#include "ks/multiple_item.h"

ULONG FixedItemCount(const BYTE* pBlock, ULONG cbBlock, ULONG cbItem) {
  const KSMULTIPLE_ITEM* pHeader = MultipleItemHeader(pBlock, cbBlock);
  if (pHeader == NULL) return 0;
  ULONG cbValue = pHeader->Size < cbBlock ? pHeader->Size : cbBlock;
  ULONG cFit = cbValue < sizeof *pHeader ? 0 : (cbValue - sizeof *pHeader) / cbItem;
  return pHeader->Count < cFit ? pHeader->Count : cFit;
}

ULONG DataRangeCount(const BYTE* pBlock, ULONG cbBlock) {
  const KSMULTIPLE_ITEM* pHeader = MultipleItemHeader(pBlock, cbBlock);
  if (pHeader == NULL) return 0;
  ULONG cRanges = 0;
  WalkDataRanges(pBlock + sizeof *pHeader, pHeader->Count, cbBlock - sizeof *pHeader,
                 [&cRanges](const KSDATARANGE* pRange, ULONG cbLeft) {
                   if (pRange->FormatSize < sizeof(KSDATARANGE) || pRange->FormatSize > cbLeft) return false;
                   ++cRanges;
                   return true;
                 });
  return cRanges;
}
