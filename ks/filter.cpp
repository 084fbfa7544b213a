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

void DeleteNodes(TList<CKsNode>& list) {
  while (!list.IsEmpty()) delete list.RemoveHead();
}

void ForgetPins(TList<CKsPin>& list) {
  while (!list.IsEmpty()) list.RemoveHead();
}

}  // namespace

CKsFilter::CKsFilter(LPCSTR pszName, HRESULT* phr) : CKsIrpTarget(INVALID_HANDLE_VALUE) {
  KS_TRACE_ENTER("CKsFilter::CKsFilter");
  HRESULT hr = InternalInit();
  if (pszName == NULL) {
    hr = E_INVALIDARG;
    TracePrintf(TRACE_ERROR, "pszName cannot be NULL");
  } else {
    CopyFilterName(pszName);
  }
  KS_TRACE_LEAVE_HR("CKsFilter::CKsFilter", hr);
  *phr = hr;
}

HRESULT CKsFilter::InternalInit() {
  KS_TRACE_ENTER("CKsFilter::InternalInit");
  std::memset(m_szFilterName, 0, sizeof m_szFilterName);
  KS_TRACE_LEAVE_HR("CKsFilter::InternalInit", S_OK);
  return S_OK;
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
  KS_TRACE_ENTER("CKsFilter::~CKsFilter");
  HRESULT hr = CKsFilter::DestroyLists();
  SafeCloseHandle(m_handle);
  KS_ASSERT(SUCCEEDED(hr));
  KS_TRACE_LEAVE_HR("CKsFilter::~CKsFilter", hr);
}

HRESULT CKsFilter::Instantiate() {
  KS_TRACE_ENTER("CKsFilter::Instantiate");
  HRESULT hr = S_OK;
  m_handle = CreateFileA(m_szFilterName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, NULL);
  // Read before the validity test, whose trace output could change it.
  DWORD dwError = GetLastError();
  if (!IsValidHandle(m_handle)) {
    hr = E_FAIL;
    TracePrintf(TRACE_ERROR, "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
                m_szFilterName, static_cast<unsigned>(dwError));
  }
  KS_TRACE_LEAVE_HR("CKsFilter::Instantiate", hr);
  return hr;
}

HRESULT CKsFilter::EnumeratePins() {
  KS_TRACE_ENTER("CKsFilter::EnumeratePins");
  ULONG cPins = 0;
  HRESULT hr = GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins);
  if (SUCCEEDED(hr)) {
    for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
      HRESULT hrPin = S_OK;
      CKsPin* pPin = new (std::nothrow) CKsPin(this, nPinId, &hrPin);
      if (pPin == NULL) {
        TracePrintf(TRACE_ERROR, "Failed to create pin");
      } else if (FAILED(hrPin)) {
        TracePrintf(TRACE_ERROR, "Failed to construct pin");
        delete pPin;
      } else if (m_listPins.AddTail(pPin) == NULL) {
        TracePrintf(TRACE_ERROR, "Failed to add pin to list");
        delete pPin;
      }
    }
  }
  hr = ClassifyPins();
  if (!HasClassifiedPins(true)) {
    hr = E_FAIL;
    TracePrintf(TRACE_ERROR, "Filter is not viable. It has no pins.");
  }
  KS_TRACE_LEAVE_HR("CKsFilter::EnumeratePins", hr);
  return hr;
}

bool CKsFilter::HasClassifiedPins(bool bCountNoCommPins) const {
  return !m_listRenderSinkPins.IsEmpty() || !m_listCaptureSourcePins.IsEmpty() ||
         !m_listCaptureSinkPins.IsEmpty() || !m_listRenderSourcePins.IsEmpty() ||
         (bCountNoCommPins && !m_listNoCommPins.IsEmpty());
}

HRESULT CKsFilter::ClassifyPins() {
  KS_TRACE_ENTER("CKsFilter::ClassifyPins");
  HRESULT hr = S_OK;
  for (TList<CKsPin>::TListNode* pNode = m_listPins.m_pHead; pNode != NULL && SUCCEEDED(hr); pNode = pNode->pNext) {
    hr = ClassifyPin(pNode->pData);
  }
  KS_TRACE_LEAVE_HR("CKsFilter::ClassifyPins", hr);
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
  KS_TRACE_ENTER("CKsFilter::EnumerateNodes");
  DeleteNodes(m_listNodes);
  PKSMULTIPLE_ITEM pItem = NULL;
  ULONG cbBlock = 0;
  HRESULT hr = GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pItem, &cbBlock);
  if (FAILED(hr)) {
    TracePrintf(TRACE_TOPOLOGY, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
  } else if (pItem != NULL) {
    // Only the node types that lie inside the received block are read; a Count that claims
    // more than that leaves fewer nodes than reported, which fails below.
    ULONG cNodes = FixedItemCount(pItem, cbBlock, sizeof(GUID));
    const GUID* pTypes = reinterpret_cast<const GUID*>(FirstItem(pItem, cbBlock));
    for (ULONG i = 0; i < cNodes; ++i) {
      HRESULT hrNode = S_OK;
      CKsNode* pNode = new (std::nothrow) CKsNode(i, pTypes[i], &hrNode);
      if (pNode == NULL) continue;
      if (FAILED(hrNode)) {
        delete pNode;
      } else if (m_listNodes.AddTail(pNode) == NULL) {
        delete pNode;
        hr = E_OUTOFMEMORY;
      }
    }
    // An answer too short for its own header is as wrong as one whose Count does not fit.
    bool bHeader = cbBlock >= sizeof(KSMULTIPLE_ITEM);
    if (!bHeader || static_cast<ULONG>(m_listNodes.m_lCount) != pItem->Count) {
      hr = E_FAIL;
      DeleteNodes(m_listNodes);
    }
  }
  delete[] reinterpret_cast<BYTE*>(pItem);
  KS_TRACE_LEAVE_HR("CKsFilter::EnumerateNodes", hr);
  return hr;
}

HRESULT CKsFilter::DestroyLists() {
  KS_TRACE_ENTER("CKsFilter::DestroyLists");
  DeleteNodes(m_listNodes);
  while (!m_listPins.IsEmpty()) delete m_listPins.RemoveHead();
  ForgetPins(m_listRenderSinkPins);
  ForgetPins(m_listCaptureSourcePins);
  ForgetPins(m_listCaptureSinkPins);
  ForgetPins(m_listRenderSourcePins);
  ForgetPins(m_listNoCommPins);
  KS_TRACE_LEAVE_HR("CKsFilter::DestroyLists", S_OK);
  return S_OK;
}
