#include "ks/pin.h"

#include <cstring>
#include <new>

#include "ks/filter.h"
#include "ks/ks_assert.h"
#include "ks/ksuser.h"
#include "ks/multiple_item.h"
#include "ks/trace.h"

namespace {

// The published name is misspelt in the interfaces message; it stays that way.
const char kCommunication[] = "KSPROPERTY_PIN_COMMUNICATION";
const char kInterfaces[] = "KSPROPETY_PIN_INTERFACES";
const char kMediums[] = "KSPROPERTY_PIN_MEDIUMS";
const char kDataRanges[] = "KSPROPERTY_PIN_DATARANGES";
const char kDataFlow[] = "KSPROPERTY_PIN_DATAFLOW";
const char kCInstances[] = "KSPROPERTY_PIN_CINSTANCES";
const char kGlobalCInstances[] = "KSPROPERTY_PIN_GLOBALCINSTANCES";
const char kCategory[] = "KSPROPERTY_PIN_CATEGORY";
const char kName[] = "KSPROPERTY_PIN_NAME";

// The pin name is read one byte short of its buffer so that the last byte stays 0.
const ULONG kNameReadLength = MAX_PATH - 1;

}  // namespace

CKsPin::CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsIrpTarget(INVALID_HANDLE_VALUE),
      m_pKsPinConnect(NULL),
      m_nId(nId),
      m_pFilter(pFilter),
      m_guidCategory(GUID_NULL),
      m_cInterfaces(0),
      m_pInterfaces(NULL),
      m_cMediums(0),
      m_pMediums(NULL),
      m_cDataRanges(0),
      m_pDataRanges(NULL),
      m_nDataFlow(0),
      m_nCommunication(0),
      m_cInstances(),
      m_cGlobalInstances(),
      m_pksDataRanges(NULL),
      m_pksMediums(NULL),
      m_pksInterfaces(NULL),
      m_abName() {
  KS_TRACE_ENTER("CKsPin::CKsPin");
  HRESULT hr = Init();
  KS_TRACE_LEAVE_HR("CKsPin::CKsPin", hr);
  *phr = hr;
}

CKsPin::~CKsPin() {
  KS_TRACE_ENTER("CKsPin::~CKsPin");
  ClosePin();
  delete[] reinterpret_cast<BYTE*>(m_pKsPinConnect);
  FreeDescriptionBlocks();
  KS_TRACE_LEAVE("CKsPin::~CKsPin");
}

void CKsPin::FreeDescriptionBlocks() {
  delete[] reinterpret_cast<BYTE*>(m_pksDataRanges);
  delete[] reinterpret_cast<BYTE*>(m_pksInterfaces);
  delete[] reinterpret_cast<BYTE*>(m_pksMediums);
  m_pksDataRanges = m_pksInterfaces = m_pksMediums = NULL;
  m_cDataRanges = m_cInterfaces = m_cMediums = 0;
  m_pDataRanges = NULL;
  m_pInterfaces = m_pMediums = NULL;
}

bool CKsPin::ReadSimple(ULONG nProperty, const char* pszProperty, PVOID pvValue, ULONG cbValue) {
  HRESULT hr = m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, nProperty, pvValue, cbValue);
  if (SUCCEEDED(hr)) return true;
  TracePrintf(TRACE_PIN_PROPERTY, "Failed to retrieve pin property %s on PinID: %d", pszProperty,
              static_cast<int>(m_nId));
  return false;
}

// The block is kept whatever the request returned, so the destructor frees it.
bool CKsPin::ReadMulti(ULONG nProperty, const char* pszProperty, PKSMULTIPLE_ITEM* ppBlock, ULONG* pcbBlock) {
  HRESULT hr = m_pFilter->GetPinPropertyMulti(m_nId, KSPROPSETID_Pin, nProperty, ppBlock, pcbBlock);
  if (SUCCEEDED(hr)) return true;
  TracePrintf(TRACE_PIN_PROPERTY, "Failed to retrieve pin property %s on PinID: %d", pszProperty,
              static_cast<int>(m_nId));
  return false;
}

HRESULT CKsPin::Init() {
  KS_TRACE_ENTER("CKsPin::Init");
  // Init is public: a second call replaces the description instead of leaking the first.
  FreeDescriptionBlocks();
  bool ok = true;
  ok &= ReadSimple(KSPROPERTY_PIN_COMMUNICATION, kCommunication, &m_nCommunication, sizeof m_nCommunication);

  // Counts come from what lies inside each received block, never from Count alone.
  ULONG cbBlock = 0;
  if (ReadMulti(KSPROPERTY_PIN_INTERFACES, kInterfaces, &m_pksInterfaces, &cbBlock)) {
    m_cInterfaces = FixedItemCount(m_pksInterfaces, cbBlock, sizeof(KSIDENTIFIER));
    m_pInterfaces = reinterpret_cast<PKSIDENTIFIER>(FirstItem(m_pksInterfaces, cbBlock));
  } else {
    ok = false;
  }
  if (ReadMulti(KSPROPERTY_PIN_MEDIUMS, kMediums, &m_pksMediums, &cbBlock)) {
    m_cMediums = FixedItemCount(m_pksMediums, cbBlock, sizeof(KSIDENTIFIER));
    m_pMediums = reinterpret_cast<PKSIDENTIFIER>(FirstItem(m_pksMediums, cbBlock));
  } else {
    ok = false;
  }
  if (ReadMulti(KSPROPERTY_PIN_DATARANGES, kDataRanges, &m_pksDataRanges, &cbBlock)) {
    m_cDataRanges = DataRangeCount(m_pksDataRanges, cbBlock);
    m_pDataRanges = reinterpret_cast<PKSDATARANGE>(FirstItem(m_pksDataRanges, cbBlock));
  } else {
    ok = false;
  }

  ok &= ReadSimple(KSPROPERTY_PIN_DATAFLOW, kDataFlow, &m_nDataFlow, sizeof m_nDataFlow);
  ok &= ReadSimple(KSPROPERTY_PIN_CINSTANCES, kCInstances, &m_cInstances, sizeof m_cInstances);
  ok &= ReadSimple(KSPROPERTY_PIN_GLOBALCINSTANCES, kGlobalCInstances, &m_cGlobalInstances,
                   sizeof m_cGlobalInstances);
  ok &= ReadSimple(KSPROPERTY_PIN_CATEGORY, kCategory, &m_guidCategory, sizeof m_guidCategory);
  ok &= ReadSimple(KSPROPERTY_PIN_NAME, kName, m_abName, kNameReadLength);

  HRESULT hr = ok ? S_OK : S_FALSE;
  KS_TRACE_LEAVE_HR("CKsPin::Init", hr);
  return hr;
}

HRESULT CKsPin::SetPinConnect(PKSPIN_CONNECT pKsPinConnect, ULONG cbKsPinConnect) {
  KS_TRACE_ENTER("CKsPin::SetPinConnect");
  HRESULT hr = S_OK;
  if (pKsPinConnect == NULL || cbKsPinConnect < sizeof(KSPIN_CONNECT)) {
    hr = E_INVALIDARG;
  } else {
    delete[] reinterpret_cast<BYTE*>(m_pKsPinConnect);
    m_pKsPinConnect = reinterpret_cast<PKSPIN_CONNECT>(new (std::nothrow) BYTE[cbKsPinConnect]);
    if (m_pKsPinConnect == NULL) {
      hr = E_OUTOFMEMORY;
    } else {
      std::memcpy(m_pKsPinConnect, pKsPinConnect, cbKsPinConnect);
    }
  }
  KS_TRACE_LEAVE("CKsPin::SetPinConnect");
  return hr;
}

HRESULT CKsPin::Instantiate(BOOL fLooped) {
  KS_TRACE_ENTER("CKsPin::Instantiate");
  if (m_pKsPinConnect == NULL) return S_OK;

  HRESULT hr = S_OK;
  if (IsValidHandle(m_handle)) {
    // A second kernel pin would overwrite, and so leak, the live one: refuse.
    hr = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  } else {
    m_pKsPinConnect->Interface.Id = fLooped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;
    PFN_KS_CREATE_PIN pfnKsCreatePin = ResolveKsCreatePin();
    if (pfnKsCreatePin == NULL) {
      hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    } else {
      DWORD dwError = pfnKsCreatePin(m_pFilter->m_handle, m_pKsPinConnect, GENERIC_READ | GENERIC_WRITE, &m_handle);
      // A Win32 error becomes its HRESULT form; a negative value already is an HRESULT.
      hr = HRESULT_FROM_WIN32(dwError);
    }
  }
  if (FAILED(hr)) TracePrintf(TRACE_ERROR, "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(hr));
  KS_TRACE_LEAVE_HR("CKsPin::Instantiate", hr);
  return hr;
}

HRESULT CKsPin::SetState(KSSTATE state) {
  KS_TRACE_ENTER("CKsPin::SetState");
  HRESULT hr = SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &state, sizeof state, NULL, 0);
  if (FAILED(hr)) TracePrintf(TRACE_ERROR, "Failed to Set Pin State");
  KS_TRACE_LEAVE_HR("CKsPin::SetState", hr);
  return hr;
}

HRESULT CKsPin::StreamIo(ULONG ulIoctl, PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped) {
  DWORD cbReturned = 0;
  if (DeviceIoControl(m_handle, ulIoctl, NULL, 0, pKSStreamHeader, pKSStreamHeader->Size, &cbReturned,
                      pOverlapped) ||
      GetLastError() == ERROR_IO_PENDING) {
    return S_OK;
  }
  return E_FAIL;
}

HRESULT CKsPin::ReadData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped, FailureTrace trace) {
  KS_TRACE_ENTER("CKsPin::ReadData");
  HRESULT hr = StreamIo(IOCTL_KS_READ_STREAM, pKSStreamHeader, pOverlapped);
  if (FAILED(hr) && trace == kTraceFailure) TracePrintf(TRACE_ERROR, "DeviceIoControl Failed!  Error=0x%08x", static_cast<unsigned>(GetLastError()));
  KS_TRACE_LEAVE_HR("CKsPin::ReadData", hr);
  return hr;
}

HRESULT CKsPin::WriteData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped) {
  KS_TRACE_ENTER("CKsPin::WriteData");
  HRESULT hr = StreamIo(IOCTL_KS_WRITE_STREAM, pKSStreamHeader, pOverlapped);
  if (FAILED(hr)) {
    TracePrintf(TRACE_ERROR, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x",
                static_cast<unsigned>(GetLastError()));
  }
  KS_TRACE_LEAVE_HR("CKsPin::WriteData", hr);
  return hr;
}

HRESULT CKsPin::GetCommunication(ULONG* pCommunication) {
  KS_TRACE_ENTER("CKsPin::GetCommunication");
  KS_ASSERT(NULL != pCommunication);
  if (pCommunication == NULL) {
    KS_TRACE_LEAVE_HR("CKsPin::GetCommunication", E_INVALIDARG);
    return E_INVALIDARG;
  }
  *pCommunication = m_nCommunication;
  KS_TRACE_LEAVE_HR("CKsPin::GetCommunication", S_OK);
  return S_OK;
}

HRESULT CKsPin::GetDataFlow(ULONG* pDataFlow) {
  KS_TRACE_ENTER("CKsPin::GetDataFlow");
  KS_ASSERT(NULL != pDataFlow);
  if (pDataFlow == NULL) {
    KS_TRACE_LEAVE_HR("CKsPin::GetDataFlow", E_INVALIDARG);
    return E_INVALIDARG;
  }
  *pDataFlow = m_nDataFlow;
  KS_TRACE_LEAVE_HR("CKsPin::GetDataFlow", S_OK);
  return S_OK;
}

BOOL CKsPin::CancelPendingIo() { return CancelIo(m_handle); }

void CKsPin::ClosePin() {
  KS_TRACE_ENTER("CKsPin::ClosePin");
  if (IsValidHandle(m_handle)) {
    SetState(KSSTATE_STOP);
    SafeCloseHandle(m_handle);
  }
  KS_TRACE_LEAVE("CKsPin::ClosePin");
}
