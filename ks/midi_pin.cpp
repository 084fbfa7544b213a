#include "ks/midi_pin.h"

#include <memory>
#include <new>

static_assert(sizeof(MidiConnectRequest) == sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT),
              "the format follows the connection request with no gap");

void CKsMidiPin::BuildConnect(MidiConnectRequest* pRequest) const {
  KSPIN_CONNECT& connect = pRequest->Connect;
  connect.Interface.Set = KSINTERFACESETID_Standard;
  connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
  connect.Interface.Flags = 0;
  connect.Medium.Set = KSMEDIUMSETID_Standard;
  connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
  connect.Medium.Flags = 0;
  connect.PinId = m_nId;
  connect.PinToHandle = NULL;
  connect.Priority.PriorityClass = KSPRIORITY_NORMAL;
  connect.Priority.PrioritySubClass = 1;

  // Whichever range the matcher accepted, the format is copied from the first one.
  KSDATAFORMAT& format = pRequest->Format;
  format.FormatSize = sizeof(KSDATAFORMAT);
  format.Flags = 0;
  format.SampleSize = 0;
  format.Reserved = 0;
  format.MajorFormat = m_pDataRanges[0].MajorFormat;
  format.SubFormat = m_pDataRanges[0].SubFormat;
  format.Specifier = m_pDataRanges[0].Specifier;
}

HRESULT CKsMidiPin::Instantiate(BOOL fLooped) {
  // Without a data range there is no format to ask for.
  if (m_cDataRanges == 0 || m_pDataRanges == NULL) return E_FAIL;
  std::unique_ptr<BYTE[]> pBlock(new (std::nothrow) BYTE[sizeof(MidiConnectRequest)]());
  if (pBlock == nullptr) return E_OUTOFMEMORY;
  MidiConnectRequest* pRequest = reinterpret_cast<MidiConnectRequest*>(pBlock.get());
  BuildConnect(pRequest);
  HRESULT hr = SetPinConnect(&pRequest->Connect, sizeof(MidiConnectRequest));
  if (SUCCEEDED(hr)) hr = CKsPin::Instantiate(fLooped);
  return hr;
}
