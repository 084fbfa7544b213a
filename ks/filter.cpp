#include "ks/filter.h"

#include <cstring>
#include <new>

#include "ks/ks_assert.h"
#include "ks/multiple_item.h"
#include "ks/pin.h"
#include "ks/trace.h"

namespace {

// One byte of the name buffer always stays zero, so the name is terminated whatever its length.
const ULONG kMaxNameBytes = MAX_PATH - 1;

void ForgetPins(TList<CKsPin>& list) {
  while (!list.IsEmpty()) list.RemoveHead();
}

}  // namespace

CKsFilter::CKsFilter(LPCSTR pszName, HRESULT* phr) : CKsIrpTarget(INVALID_HANDLE_VALUE) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::CKsFilter", hr);
  hr = InternalInit();
  if (pszName == NULL) {
    hr = E_INVALIDARG;
    TracePrintf(TRACE_ERROR, "pszName cannot be NULL");
  } else {
    CopyFilterName(pszName);
  }
  *phr = hr;
}

HRESULT CKsFilter::InternalInit() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::InternalInit", hr);
  std::memset(m_szFilterName, 0, sizeof m_szFilterName);
  return hr;
}

// A bounded copy in the process's code page: a double-byte character that would not fit
// whole is left out, and the bytes after the name stay zero. A name that fits is one block
// copy; only a name cut at the bound is walked character by character, and then only bytes
// of 0x80 and above are asked about, since no code page has a lead byte below 0x80.
void CKsFilter::CopyFilterName(LPCSTR pszName) {
  size_t cbName = strnlen(pszName, kMaxNameBytes + 1);
  if (cbName <= kMaxNameBytes) {
    std::memcpy(m_szFilterName, pszName, cbName);
    return;
  }
  ULONG i = 0;
  while (i < kMaxNameBytes) {
    BYTE byte = static_cast<BYTE>(pszName[i]);
    ULONG cbChar = byte >= 0x80 && IsDBCSLeadByte(byte) ? 2 : 1;  // the next byte exists: the name is longer
    if (i + cbChar > kMaxNameBytes) break;
    i += cbChar;
  }
  std::memcpy(m_szFilterName, pszName, i);
}

CKsFilter::~CKsFilter() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::~CKsFilter", hr);
  hr = CKsFilter::DestroyLists();
  SafeCloseHandle(m_handle);
  KS_ASSERT(SUCCEEDED(hr));
}

HRESULT CKsFilter::Instantiate() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::Instantiate", hr);
  m_handle = CreateFileA(m_szFilterName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, NULL);
  // Read before the validity test, whose trace output could change it.
  DWORD dwError = GetLastError();
  if (!IsValidHandle(m_handle)) {
    hr = E_FAIL;
    TracePrintf(TRACE_ERROR, "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
                m_szFilterName, static_cast<unsigned>(dwError));
  }
  return hr;
}

HRESULT CKsFilter::EnumeratePins() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::EnumeratePins", hr);
  ULONG cPins = 0;
  if (SUCCEEDED(GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins))) {
    for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
      HRESULT hrPin = S_OK;
      // A pin that is not listed goes at the end of its turn, after its message.
      std::unique_ptr<CKsPin> pPin(new (std::nothrow) CKsPin(this, nPinId, &hrPin));
      if (pPin == nullptr) {
        TracePrintf(TRACE_ERROR, "Failed to create pin");
      } else if (FAILED(hrPin)) {
        TracePrintf(TRACE_ERROR, "Failed to construct pin");
      } else if (!AddOwned(m_listPins, pPin)) {
        TracePrintf(TRACE_ERROR, "Failed to add pin to list");
      }
    }
  }
  hr = ClassifyPins();
  if (!HasClassifiedPins(true)) {
    hr = E_FAIL;
    TracePrintf(TRACE_ERROR, "Filter is not viable. It has no pins.");
  }
  return hr;
}

bool CKsFilter::HasClassifiedPins(bool bCountNoCommPins) const {
  return !m_listRenderSinkPins.IsEmpty() || !m_listCaptureSourcePins.IsEmpty() ||
         !m_listCaptureSinkPins.IsEmpty() || !m_listRenderSourcePins.IsEmpty() ||
         (bCountNoCommPins && !m_listNoCommPins.IsEmpty());
}

HRESULT CKsFilter::ClassifyPins() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::ClassifyPins", hr);
  for (TList<CKsPin>::TListNode* pNode = m_listPins.m_pHead; pNode != NULL && SUCCEEDED(hr); pNode = pNode->pNext) {
    hr = ClassifyPin(pNode->pData);
  }
  return hr;
}

// Render is data flow IN; every other data flow value counts as capture.
HRESULT CKsFilter::ClassifyPin(CKsPin* pPin) {
  ULONG communication;
  HRESULT hr = pPin->GetCommunication(&communication);
  if (FAILED(hr)) return hr;
  ULONG dataFlow;
  hr = pPin->GetDataFlow(&dataFlow);
  if (FAILED(hr)) return hr;

  bool bRender = dataFlow == KSPIN_DATAFLOW_IN;
  TList<CKsPin>* pSinkList = bRender ? &m_listRenderSinkPins : &m_listCaptureSinkPins;
  TList<CKsPin>* pSourceList = bRender ? &m_listRenderSourcePins : &m_listCaptureSourcePins;
  TList<CKsPin>* apLists[2] = {NULL, NULL};
  switch (communication) {
    case KSPIN_COMMUNICATION_NONE:
      apLists[0] = &m_listNoCommPins;
      break;
    case KSPIN_COMMUNICATION_SINK:
      apLists[0] = pSinkList;
      break;
    case KSPIN_COMMUNICATION_SOURCE:
      apLists[0] = pSourceList;
      break;
    case KSPIN_COMMUNICATION_BOTH:
      apLists[0] = pSinkList;
      apLists[1] = pSourceList;
      break;
    default:
      TracePrintf(TRACE_COMMUNICATION, "Pin communication type not recognized");
      return S_OK;
  }
  // Both appends are tried before a failure is reported.
  for (TList<CKsPin>* pList : apLists) {
    if (pList != NULL && pList->AddTail(pPin) == NULL) hr = E_OUTOFMEMORY;
  }
  return hr;
}

HRESULT CKsFilter::EnumerateNodes() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::EnumerateNodes", hr);
  DeleteAll(m_listNodes);
  std::unique_ptr<BYTE[]> pBlock;
  ULONG cbBlock = 0;
  hr = GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pBlock, &cbBlock);
  if (FAILED(hr)) {
    TracePrintf(TRACE_TOPOLOGY, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
  } else if (pBlock != nullptr) {
    // Only the node types that lie inside the received block are read; a Count that claims
    // more than that leaves fewer nodes than reported, which fails below.
    ULONG cNodes = FixedItemCount(pBlock.get(), cbBlock, sizeof(GUID));
    const GUID* pTypes = reinterpret_cast<const GUID*>(FirstItem(pBlock.get(), cbBlock));
    for (ULONG i = 0; i < cNodes; ++i) {
      HRESULT hrNode = S_OK;
      std::unique_ptr<CKsNode> pNode(new (std::nothrow) CKsNode(i, pTypes[i], &hrNode));
      if (pNode != nullptr && SUCCEEDED(hrNode) && !AddOwned(m_listNodes, pNode)) hr = E_OUTOFMEMORY;
    }
    // An answer too short for its own header is as wrong as one whose Count does not fit.
    const KSMULTIPLE_ITEM* pHeader = MultipleItemHeader(pBlock.get(), cbBlock);
    if (pHeader == NULL || static_cast<ULONG>(m_listNodes.m_lCount) != pHeader->Count) {
      hr = E_FAIL;
      DeleteAll(m_listNodes);
    }
  }
  return hr;
}

HRESULT CKsFilter::DestroyLists() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::DestroyLists", hr);
  DeleteAll(m_listNodes);
  DeleteAll(m_listPins);
  ForgetPins(m_listRenderSinkPins);
  ForgetPins(m_listCaptureSourcePins);
  ForgetPins(m_listCaptureSinkPins);
  ForgetPins(m_listRenderSourcePins);
  ForgetPins(m_listNoCommPins);
  return hr;
}
