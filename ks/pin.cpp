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
    : CKsIrpTarget(INVALID_HANDLE_VALUE), m_nId(nId), m_pFilter(pFilter) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsPin::CKsPin", hr);
  hr = Init();
  *phr = hr;
}

CKsPin::~CKsPin() {
  KS_TRACE_SCOPE("CKsPin::~CKsPin");
  ClosePin();
  m_pKsPinConnect.reset();
  FreeDescriptionBlocks();
}

void CKsPin::FreeDescriptionBlocks() {
  m_pksDataRanges.reset();
  m_pksInterfaces.reset();
  m_pksMediums.reset();
}

// Whether a descriptor request succeeded; a failure is written with the property's name.
bool CKsPin::Read(HRESULT hr, const char* pszProperty) const {
  if (SUCCEEDED(hr)) return true;
  TracePrintf(TRACE_PIN_PROPERTY, "Failed to retrieve pin property %s on PinID: %d", pszProperty,
              static_cast<int>(m_nId));
  return false;
}

bool CKsPin::ReadSimple(ULONG nProperty, const char* pszProperty, PVOID pvValue, ULONG cbValue) {
  return Read(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, nProperty, pvValue, cbValue), pszProperty);
}

// The block is kept whatever the request returned, and goes with the pin; *pcbRead is its size
// when the request succeeded and 0 otherwise, so that nothing is read from a failed answer.
bool CKsPin::ReadMulti(ULONG nProperty, const char* pszProperty, std::unique_ptr<BYTE[]>* ppBlock, ULONG* pcbRead) {
  bool read = Read(m_pFilter->GetPinPropertyMulti(m_nId, KSPROPSETID_Pin, nProperty, ppBlock, pcbRead), pszProperty);
  if (!read) *pcbRead = 0;
  return read;
}

HRESULT CKsPin::Init() {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsPin::Init", hr);
  // Init is public: a second call replaces the description.
  FreeDescriptionBlocks();
  bool ok = ReadSimple(KSPROPERTY_PIN_COMMUNICATION, kCommunication, &m_nCommunication, sizeof m_nCommunication);

  // Counts come from what lies inside each received block, never from Count alone.
  ULONG cbRead = 0;
  ok &= ReadMulti(KSPROPERTY_PIN_INTERFACES, kInterfaces, &m_pksInterfaces, &cbRead);
  m_cInterfaces = FixedItemCount(m_pksInterfaces.get(), cbRead, sizeof(KSIDENTIFIER));
  m_pInterfaces = reinterpret_cast<PKSIDENTIFIER>(FirstItem(m_pksInterfaces.get(), cbRead));
  ok &= ReadMulti(KSPROPERTY_PIN_MEDIUMS, kMediums, &m_pksMediums, &cbRead);
  m_cMediums = FixedItemCount(m_pksMediums.get(), cbRead, sizeof(KSIDENTIFIER));
  m_pMediums = reinterpret_cast<PKSIDENTIFIER>(FirstItem(m_pksMediums.get(), cbRead));
  ok &= ReadMulti(KSPROPERTY_PIN_DATARANGES, kDataRanges, &m_pksDataRanges, &cbRead);
  m_cDataRanges = DataRangeCount(m_pksDataRanges.get(), cbRead);
  m_pDataRanges = reinterpret_cast<PKSDATARANGE>(FirstItem(m_pksDataRanges.get(), cbRead));

  ok &= ReadSimple(KSPROPERTY_PIN_DATAFLOW, kDataFlow, &m_nDataFlow, sizeof m_nDataFlow);
  ok &= ReadSimple(KSPROPERTY_PIN_CINSTANCES, kCInstances, &m_cInstances, sizeof m_cInstances);
  ok &= ReadSimple(KSPROPERTY_PIN_GLOBALCINSTANCES, kGlobalCInstances, &m_cGlobalInstances,
                   sizeof m_cGlobalInstances);
  ok &= ReadSimple(KSPROPERTY_PIN_CATEGORY, kCategory, &m_guidCategory, sizeof m_guidCategory);
  ok &= ReadSimple(KSPROPERTY_PIN_NAME, kName, m_abName, kNameReadLength);
  hr = ok ? S_OK : S_FALSE;
  return hr;
}

HRESULT CKsPin::SetPinConnect(PKSPIN_CONNECT pKsPinConnect, ULONG cbKsPinConnect) {
  KS_TRACE_SCOPE("CKsPin::SetPinConnect");
  if (pKsPinConnect == NULL || cbKsPinConnect < sizeof(KSPIN_CONNECT)) return E_INVALIDARG;
  // The earlier request goes before the new one is made.
  m_pKsPinConnect.reset();
  m_pKsPinConnect.reset(new (std::nothrow) BYTE[cbKsPinConnect]);
  if (m_pKsPinConnect == nullptr) return E_OUTOFMEMORY;
  std::memcpy(m_pKsPinConnect.get(), pKsPinConnect, cbKsPinConnect);
  return S_OK;
}

HRESULT CKsPin::Instantiate(BOOL fLooped) {
  HRESULT hr = S_OK;
  TraceScope trace("CKsPin::Instantiate()", "CKsPin::Instantiate", &hr);
  if (m_pKsPinConnect == nullptr) {
    // Without a request nothing is made. This early return has never written the exit line,
    // and debugger logs keep reading line for line as they did.
    trace.OmitLeave();
    return hr;
  }
  if (IsValidHandle(m_handle)) {
    // A second kernel pin would overwrite, and so leak, the live one: refuse.
    hr = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  } else {
    PKSPIN_CONNECT pConnect = reinterpret_cast<PKSPIN_CONNECT>(m_pKsPinConnect.get());
    pConnect->Interface.Id = fLooped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;
    PFN_KS_CREATE_PIN pfnKsCreatePin = ResolveKsCreatePin();
    if (pfnKsCreatePin == NULL) {
      hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    } else {
      DWORD dwError = pfnKsCreatePin(m_pFilter->m_handle, pConnect, GENERIC_READ | GENERIC_WRITE, &m_handle);
      // A Win32 error becomes its HRESULT form; a negative value already is an HRESULT.
      hr = HRESULT_FROM_WIN32(dwError);
    }
  }
  if (FAILED(hr)) TracePrintf(TRACE_ERROR, "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(hr));
  return hr;
}

HRESULT CKsPin::SetState(KSSTATE state) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsPin::SetState", hr);
  hr = SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &state, sizeof state, NULL, 0);
  if (FAILED(hr)) TracePrintf(TRACE_ERROR, "Failed to Set Pin State");
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
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsPin::ReadData", hr);
  hr = StreamIo(IOCTL_KS_READ_STREAM, pKSStreamHeader, pOverlapped);
  if (FAILED(hr) && trace == kTraceFailure) TracePrintf(TRACE_ERROR, "DeviceIoControl Failed!  Error=0x%08x", static_cast<unsigned>(GetLastError()));
  return hr;
}

HRESULT CKsPin::WriteData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsPin::WriteData", hr);
  hr = StreamIo(IOCTL_KS_WRITE_STREAM, pKSStreamHeader, pOverlapped);
  if (FAILED(hr)) {
    TracePrintf(TRACE_ERROR, "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x",
                static_cast<unsigned>(GetLastError()));
  }
  return hr;
}

HRESULT CKsPin::GetCommunication(ULONG* pCommunication) {
  HRESULT hr = E_INVALIDARG;
  KS_TRACE_SCOPE_HR("CKsPin::GetCommunication", hr);
  KS_ASSERT(NULL != pCommunication);
  if (pCommunication == NULL) return hr;
  *pCommunication = m_nCommunication;
  hr = S_OK;
  return hr;
}

HRESULT CKsPin::GetDataFlow(ULONG* pDataFlow) {
  HRESULT hr = E_INVALIDARG;
  KS_TRACE_SCOPE_HR("CKsPin::GetDataFlow", hr);
  KS_ASSERT(NULL != pDataFlow);
  if (pDataFlow == NULL) return hr;
  *pDataFlow = m_nDataFlow;
  hr = S_OK;
  return hr;
}

BOOL CKsPin::CancelPendingIo() { return CancelIo(m_handle); }

void CKsPin::ClosePin() {
  KS_TRACE_SCOPE("CKsPin::ClosePin");
  if (!IsValidHandle(m_handle)) return;
  SetState(KSSTATE_STOP);
  SafeCloseHandle(m_handle);
}
