#include "client/client_output.h"

#include <algorithm>
#include <new>

#include "client/client_device.h"
#include "client/port_common.h"

namespace {

const DWORD kLockWaitMs = 1000;
const DWORD kWriteWaitMs = 1000;

}  // namespace

ClientOutput* ClientOutput::Open(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice) {
  // Without memory the filter's reference goes with `filter`.
  ClientOutput* pOutput = new (std::nothrow) ClientOutput(std::move(filter), pDevice);
  if (pOutput == NULL) return NULL;
  if (!pOutput->m_writeDoneEvent || !pOutput->m_hSendLock || !pOutput->StartPin()) {
    pOutput->ScalarDeletingDestructor(TarrowinHiddenMIDI::kDeleteFreesMemory);  // no write was issued
    return NULL;
  }
  return pOutput;
}

// Both events auto-reset and signalled: the first write does not wait, the first Send gets the lock.
ClientOutput::ClientOutput(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice)
    : m_abWriteBuffer(),
      m_writeHeader(),
      m_writeOverlapped(),
      m_writeDoneEvent(CreateEventA(NULL, FALSE, TRUE, NULL)),
      m_hSendLock(CreateEventA(NULL, FALSE, TRUE, NULL)),
      m_pFilter(std::move(filter)),
      m_pPin(static_cast<CKsMidiPin*>(m_pFilter->FindPin(CKsMidiFilter::kRenderPin, 0))),
      m_pDevice(pDevice) {
  m_writeOverlapped.hEvent = m_writeDoneEvent.get();
  PrepareMidiWriteHeader(&m_writeHeader, m_abWriteBuffer);
}

bool ClientOutput::StartPin() {
  if (m_pPin == NULL) return false;
  if (FAILED(m_pPin->Instantiate(FALSE))) return false;
  return RunPin(m_pPin) == 0;
}

bool ClientOutput::Shutdown() {
  bool bWriteEnded = WaitForWriteInFlight();
  // The request references the event object itself, so its handle may go.
  m_writeDoneEvent.reset();
  m_hSendLock.reset();
  if (m_pPin != NULL) StopPin(m_pPin);
  m_pFilter.reset();
  // A write the driver kept after its cancellation may have ended with the stop or the close;
  // if it has not, the driver still holds this object's buffer, header and OVERLAPPED.
  return bWriteEnded || !RequestStillPending(&m_writeOverlapped);
}

bool ClientOutput::WaitForWriteInFlight() {
  HANDLE hWriteDone = m_writeDoneEvent.get();
  if (hWriteDone == NULL || m_pPin == NULL) return true;
  if (WaitForSingleObject(hWriteDone, kWriteWaitMs) == WAIT_OBJECT_0) return true;
  // Any host thread may have issued the write, so it is cancelled by its OVERLAPPED.
  CancelIoEx(m_pPin->m_handle, &m_writeOverlapped);
  return WaitForSingleObject(hWriteDone, kWriteWaitMs) == WAIT_OBJECT_0;
}

int ClientOutput::GetStatus() { return 0; }

bool ClientOutput::Send(const unsigned char* pbData, int cbData) {
  if (WaitForSingleObject(m_hSendLock.get(), kLockWaitMs) != WAIT_OBJECT_0) return true;
  // Counted down in an unsigned type, so that no length up to INT_MAX overflows, and nothing
  // outside [pbData, pbData + cbData) is read. Null or a length of 0 or less sends nothing.
  size_t cbLeft = (pbData != NULL && cbData > 0) ? static_cast<size_t>(cbData) : 0;
  // In order, 640 bytes at a time, each chunk copied once: straight from the caller into the
  // write buffer as soon as the previous write is done with it.
  for (const BYTE* pbChunk = pbData; cbLeft != 0;) {
    ULONG cbChunk = static_cast<ULONG>(std::min<size_t>(cbLeft, kMidiWriteChunk));
    // A refused write drops the rest of the call: after it the stream already has a hole, and
    // a driver that refuses one write (the device is gone) refuses the next one too, each with
    // a trace line and, for the largest calls, millions of requests.
    if (!WriteOneChunk(pbChunk, cbChunk)) break;
    pbChunk += cbChunk;
    cbLeft -= cbChunk;
  }
  SetEvent(m_hSendLock.get());
  return true;
}

bool ClientOutput::WriteOneChunk(const BYTE* pbChunk, ULONG cbChunk) {
  HANDLE hWriteDone = m_writeDoneEvent.get();
  // Not signalled in time: the chunk is dropped, and the next one waits its turn again.
  if (WaitForSingleObject(hWriteDone, kWriteWaitMs) != WAIT_OBJECT_0) return true;
  FillMidiWriteEvent(m_abWriteBuffer, pbChunk, cbChunk);
  if (SUCCEEDED(m_pPin->WriteData(&m_writeHeader, &m_writeOverlapped))) return true;
  // A write that could not even be queued never goes in flight: the slot is free again,
  // or one refused write would silence the output for good.
  SetEvent(hWriteDone);
  return false;
}
