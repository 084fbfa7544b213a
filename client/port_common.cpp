#include "client/port_common.h"

#include "ks/midi_stream.h"
#include "platform/owners.h"

bool CanOpenInterface(const CKsMidiFilter* pFilter) {
  if (pFilter == NULL) return false;
  // Opened the way the filter itself opens it.
  HANDLE hFile = CreateFileA(pFilter->m_szFilterName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, NULL);
  if (hFile == NULL) return false;  // names nothing: not valid, and nothing to close
  return static_cast<bool>(UniqueFile(hFile));  // closed again at once
}

int RunPin(CKsPin* pPin) {
  const KSSTATE steps[] = {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN};
  for (int i = 0; i < 3; ++i)
    if (FAILED(pPin->SetState(steps[i]))) return i + 1;
  return 0;
}

void StopPin(CKsPin* pPin) {
  pPin->SetState(KSSTATE_PAUSE);
  pPin->SetState(KSSTATE_ACQUIRE);
  pPin->SetState(KSSTATE_STOP);
}

bool RequestStillPending(OVERLAPPED* pOverlapped) {
  DWORD cbTransferred = 0;
  return !GetOverlappedResult(NULL, pOverlapped, &cbTransferred, FALSE) && GetLastError() == ERROR_IO_INCOMPLETE;
}

bool CompletedWithRecord(const OVERLAPPED* pOverlapped, const BYTE* pReadBuffer) {
  const DWORD kWarningSeverity = 2;  // the two top bits of an NTSTATUS; 3 is an error
  DWORD dwSeverity = static_cast<DWORD>(pOverlapped->Internal) >> 30;
  if (!HasOverlappedIoCompleted(pOverlapped) || dwSeverity > kWarningSeverity) return false;
  // A warning (STATUS_DEVICE_BUSY, say) need not carry data: one without a record is no record.
  return dwSeverity < kWarningSeverity || MidiReadByteCount(pReadBuffer) != 0;
}
