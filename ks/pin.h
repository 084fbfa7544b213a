// One pin factory of an open filter: its description, read from the filter at construction,
// and the live kernel pin made from it with state changes and asynchronous stream I/O.
#pragma once

#include "ks/irptgt.h"

class CKsFilter;

class CKsPin : public CKsIrpTarget {
 public:
  CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr);
  ~CKsPin() override;

  virtual HRESULT Instantiate(BOOL fLooped);
  virtual HRESULT SetState(KSSTATE state);

  // S_FALSE when any of the nine descriptor requests failed.
  HRESULT Init();
  HRESULT SetPinConnect(PKSPIN_CONNECT pKsPinConnect, ULONG cbKsPinConnect);
  // Whether a read the driver refuses writes its failure line: a caller that retries traces
  // only the first refusal of a run.
  enum FailureTrace { kTraceFailure, kQuietFailure };
  // Both return while the request is pending: the header, its data and the OVERLAPPED stay
  // the caller's and must live until the OVERLAPPED's event is signalled.
  HRESULT ReadData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped, FailureTrace trace = kTraceFailure);
  HRESULT WriteData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped);
  // The driver's values as it sent them: ULONG, since a value outside the published
  // enumerators could not be held in the enum types.
  HRESULT GetCommunication(ULONG* pCommunication);
  HRESULT GetDataFlow(ULONG* pDataFlow);
  // Cancels the reads and writes the calling thread issued on the pin.
  BOOL CancelPendingIo();
  void ClosePin();

  // A KSPIN_CONNECT and what follows it, as SetPinConnect was given them; empty until then.
  std::unique_ptr<BYTE[]> m_pKsPinConnect;
  ULONG m_nId;
  CKsFilter* m_pFilter;
  // The description: zero (null, GUID_NULL) until Init reads it.
  GUID m_guidCategory = GUID_NULL;
  ULONG m_cInterfaces = 0;
  PKSIDENTIFIER m_pInterfaces = NULL;
  ULONG m_cMediums = 0;
  PKSIDENTIFIER m_pMediums = NULL;
  ULONG m_cDataRanges = 0;
  PKSDATARANGE m_pDataRanges = NULL;
  ULONG m_nDataFlow = 0;       // a KSPIN_DATAFLOW value
  ULONG m_nCommunication = 0;  // a KSPIN_COMMUNICATION value
  KSPIN_CINSTANCES m_cInstances = {};
  KSPIN_CINSTANCES m_cGlobalInstances = {};
  // The KSMULTIPLE_ITEM answers that the pointers above point into.
  std::unique_ptr<BYTE[]> m_pksDataRanges;
  std::unique_ptr<BYTE[]> m_pksMediums;
  std::unique_ptr<BYTE[]> m_pksInterfaces;
  // KSPROPERTY_PIN_NAME: a wide-character string read with 259 bytes, so the last byte stays 0.
  BYTE m_abName[MAX_PATH] = {};

 private:
  bool Read(HRESULT hr, const char* pszProperty) const;
  bool ReadSimple(ULONG nProperty, const char* pszProperty, PVOID pvValue, ULONG cbValue);
  bool ReadMulti(ULONG nProperty, const char* pszProperty, std::unique_ptr<BYTE[]>* ppBlock, ULONG* pcbRead);
  void FreeDescriptionBlocks();
  HRESULT StreamIo(ULONG ulIoctl, PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped);
};
