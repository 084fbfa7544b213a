#include "ks/midi_filter.h"

#include <memory>
#include <new>

#include "ks/matchers.h"
#include "ks/midi_pin.h"
#include "ks/multiple_item.h"
#include "ks/trace.h"

namespace {

// Reads a pin factory's data ranges and asks the matcher about those that lie inside the
// answer, which is freed before the caller acts on the result.
HRESULT ReadMidiMatch(CKsFilter& filter, ULONG nPinId, BOOL* pbMatch) {
  std::unique_ptr<BYTE[]> pBlock;
  ULONG cbBlock = 0;
  HRESULT hr = filter.GetPinPropertyMulti(nPinId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, &pBlock, &cbBlock);
  const KSMULTIPLE_ITEM* pHeader = MultipleItemHeader(pBlock.get(), cbBlock);
  *pbMatch = SUCCEEDED(hr) && pHeader != NULL &&
             HasMatchingDataRange(reinterpret_cast<const KSDATARANGE*>(pHeader + 1), pHeader->Count,
                                  cbBlock - sizeof *pHeader);
  return hr;
}

}  // namespace

HRESULT CKsMidiFilter::EnumeratePins() {
  ULONG cPins = 0;
  HRESULT hr = GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins);
  if (FAILED(hr)) return hr;

  for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
    BOOL bMatch = FALSE;
    hr = ReadMidiMatch(*this, nPinId, &bMatch);
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
  std::unique_ptr<CKsPin> pPin(new (std::nothrow) CKsMidiPin(this, nPinId, &hr));
  if (pPin == nullptr) {
    TracePrintf(TRACE_ERROR, "Failed to create MIDI pin");
    return E_OUTOFMEMORY;
  }
  if (!AddOwned(m_listPins, pPin)) {
    pPin.reset();  // the pin goes before its message is written
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
