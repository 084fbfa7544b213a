#include "ks/midi_filter.h"

#include <new>

#include "ks/matchers.h"
#include "ks/midi_pin.h"
#include "ks/multiple_item.h"
#include "ks/trace.h"

namespace {

// Asks the matcher about the ranges that lie inside the block the driver answered.
BOOL HasMidiRange(PKSMULTIPLE_ITEM pRanges, ULONG cbBlock) {
  const BYTE* pFirst = FirstItem(pRanges, cbBlock);
  if (pFirst == NULL) return FALSE;
  return HasMatchingDataRange(reinterpret_cast<const KSDATARANGE*>(pFirst), pRanges->Count,
                              BlockItemBytes(pRanges, cbBlock));
}

}  // namespace

HRESULT CKsMidiFilter::EnumeratePins() {
  ULONG cPins = 0;
  HRESULT hr = GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins);
  if (FAILED(hr)) return hr;

  for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
    PKSMULTIPLE_ITEM pRanges = NULL;
    ULONG cbBlock = 0;
    hr = GetPinPropertyMulti(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, &pRanges, &cbBlock);
    BOOL bMatch = SUCCEEDED(hr) && HasMidiRange(pRanges, cbBlock);
    // A block handed over by a failed second request is freed too.
    delete[] reinterpret_cast<BYTE*>(pRanges);
    if (FAILED(hr)) return hr;
    if (bMatch) hr = AddMidiPin(nPinId);
  }
  // The running result is that of the last pin id handled.
  if (FAILED(hr)) return hr;

  ClassifyPins();
  return HasClassifiedPins(false) ? S_OK : E_FAIL;
}

HRESULT CKsMidiFilter::AddMidiPin(ULONG nPinId) {
  HRESULT hr = S_OK;
  CKsMidiPin* pPin = new (std::nothrow) CKsMidiPin(this, nPinId, &hr);
  if (pPin == NULL) {
    TracePrintf(TRACE_ERROR, "Failed to create MIDI pin");
    return E_OUTOFMEMORY;
  }
  if (m_listPins.AddTail(pPin) == NULL) {
    delete pPin;
    TracePrintf(TRACE_ERROR, "Unable to allocate list entry to save pin in");
    return E_OUTOFMEMORY;
  }
  return hr;
}

CKsPin* CKsMidiFilter::FindPin(ULONG nPinType, ULONG nIndex) {
  const TList<CKsPin>& list = nPinType == kRenderPin ? m_listRenderSinkPins : m_listCaptureSinkPins;
  TList<CKsPin>::TListNode* pNode = list.m_pHead;
  for (ULONG i = 0; pNode != NULL && i < nIndex; ++i) pNode = pNode->pNext;
  return pNode != NULL ? pNode->pData : NULL;
}
