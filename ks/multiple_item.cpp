#include "ks/multiple_item.h"

ULONG MultipleItemBytes(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock) {
  if (pItem == NULL || cbBlock < sizeof(KSMULTIPLE_ITEM)) return 0;
  ULONG cbValue = pItem->Size < cbBlock ? pItem->Size : cbBlock;
  return cbValue < sizeof(KSMULTIPLE_ITEM) ? 0 : cbValue - sizeof(KSMULTIPLE_ITEM);
}

ULONG FixedItemCount(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock, ULONG cbItem) {
  ULONG cFit = MultipleItemBytes(pItem, cbBlock) / cbItem;
  return cFit == 0 ? 0 : (pItem->Count < cFit ? pItem->Count : cFit);
}

ULONG BlockItemBytes(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock) {
  return pItem == NULL || cbBlock < sizeof(KSMULTIPLE_ITEM) ? 0 : cbBlock - sizeof(KSMULTIPLE_ITEM);
}

ULONG DataRangeCount(const KSMULTIPLE_ITEM* pItem, ULONG cbBlock) {
  ULONG cbLeft = BlockItemBytes(pItem, cbBlock);
  if (cbLeft == 0) return 0;
  const BYTE* pRange = reinterpret_cast<const BYTE*>(pItem + 1);
  ULONG cRanges = 0;
  while (cRanges < pItem->Count && cbLeft >= sizeof(KSDATARANGE)) {
    ULONG cbRange = reinterpret_cast<const KSDATARANGE*>(pRange)->FormatSize;
    if (cbRange < sizeof(KSDATARANGE) || cbRange > cbLeft) break;
    ++cRanges;
    ULONG cbStep = (cbRange + 7u) & ~7u;
    if (cbStep >= cbLeft) break;
    pRange += cbStep;
    cbLeft -= cbStep;
  }
  return cRanges;
}
