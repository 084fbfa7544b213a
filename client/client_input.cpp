#include "client/client_input.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "client/client_device.h"
#include "client/port_common.h"

namespace {

// Exit codes of a receive thread that could not start its pin.
const DWORD kInstantiateFailed = static_cast<DWORD>(-2);
const DWORD kFirstStateStepFailed = static_cast<DWORD>(-3);  // -4 and -5 for the next steps

const DWORD kStopPollMs = 10;
// A read the driver refused or failed is tried again while the device is there, after a pause
// that doubles with every failure in a row up to the longest: a driver that keeps failing
// costs a reopen of the interface at most once a second, not twenty times.
const DWORD kReadRetryPauseMs = 50;
const DWORD kLongestReadRetryPauseMs = 1000;
// How long the receive thread waits for its cancelled read, as long as an output waits for its write.
const DWORD kCancelWaitMs = 1000;

}  // namespace

ClientInput* ClientInput::Open(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice) {
  // Without memory the filter's reference goes with `filter`.
  ClientInput* pInput = new (std::nothrow) ClientInput(std::move(filter), pDevice);
  // Without its event a read could never be waited for: such an input never delivers.
  if (pInput != NULL && pInput->m_pPin != NULL && pInput->m_readEvent)
    pInput->m_hThread.reset(CreateThread(NULL, 0, ReceiveThread, pInput, 0, &pInput->m_dwThreadId));
  return pInput;
}

ClientInput::ClientInput(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice)
    : m_abReadBuffer(),
      m_readHeader(),
      m_readOverlapped(),
      m_readEvent(CreateEventA(NULL, FALSE, FALSE, NULL)),
      m_pFilter(std::move(filter)),
      m_pPin(static_cast<CKsMidiPin*>(m_pFilter->FindPin(CKsMidiFilter::kCapturePin, 0))),
      m_dwThreadId(0),
      m_stopRequested(false),
      m_bReadHeld(false),
      m_pDevice(pDevice),
      m_dwRetryPauseMs(0),
      m_bRetryRunTraced(false),
      m_pfnCallback(NULL),
      m_pCallbackContext(NULL) {
  m_readOverlapped.hEvent = m_readEvent.get();
  PrepareMidiReadHeader(&m_readHeader, m_abReadBuffer);
}

bool ClientInput::Shutdown() {
  m_stopRequested = true;
  if (m_readEvent) SetEvent(m_readEvent.get());
  WaitForReceiveThread();
  // Only now: while the receive thread still creates the pin it writes the pin's handle. The
  // call cancels what this thread issued on the pin, which is the same before and after.
  if (m_pPin != NULL) m_pPin->CancelPendingIo();
  if (m_pPin != NULL) StopPin(m_pPin);
  m_pFilter.reset();
  // A read the driver kept after its cancellation may have ended with the stop or the close;
  // if it has not, the driver still holds this object's buffer, header and OVERLAPPED.
  bool bReusable = !m_bReadHeld || !RequestStillPending(&m_readOverlapped);
  // The request references the event object itself, so its handle may go.
  m_readEvent.reset();
  m_hThread.reset();
  return bReusable;
}

void ClientInput::WaitForReceiveThread() {
  // Polls without a time limit: the thread ends once it sees the stop request, unless the
  // host's callback never returns. Without a thread the wait ends after one round.
  DWORD dwExitCode = 0;
  do {
    // Starting a read resets its event, so a signal given just before the thread's next
    // read is lost: it is given again every round.
    if (dwExitCode == STILL_ACTIVE && m_readEvent) SetEvent(m_readEvent.get());
    Sleep(kStopPollMs);
    dwExitCode = 0;
    // An exit code that cannot be read is no sign that the thread has ended: freeing the
    // input under it would let it read freed memory. The thread object answers instead; only
    // a handle that answers neither ends the wait.
    if (m_hThread && !GetExitCodeThread(m_hThread.get(), &dwExitCode) &&
        WaitForSingleObject(m_hThread.get(), 0) == WAIT_TIMEOUT)
      dwExitCode = STILL_ACTIVE;
  } while (dwExitCode == STILL_ACTIVE);
}

void ClientInput::SetCallback(TarrowinHiddenMIDI::InputCallback pfnCallback, void* pContext) {
  // Replaces the pair and returns: a delivery that copied the old pair may still be running
  // with it. Waiting for it here could wait for the caller itself (a callback that sends to
  // this thread's window, or sets the callback of an input whose callback sets this one).
  LockCallbackPair();
  m_pfnCallback = pfnCallback;
  m_pCallbackContext = pContext;
  m_callbackLock.clear(std::memory_order_release);
}

void ClientInput::LockCallbackPair() {
  // Held only for two pointer copies; a thread that finds it taken gives up its time slice,
  // so that a holder preempted between the copies runs again. Sleep(0) yields only to threads
  // of its own priority or higher: a time-critical host thread then sleeps for real, or it
  // would spin while a normal-priority receive thread holds the lock.
  const int kYieldsBeforeSleeping = 16;
  for (int cTries = 0; m_callbackLock.test_and_set(std::memory_order_acquire); ++cTries)
    Sleep(cTries < kYieldsBeforeSleeping ? 0 : 1);
}

void ClientInput::Deliver(const unsigned char* pData, unsigned int cbData) {
  LockCallbackPair();
  TarrowinHiddenMIDI::InputCallback pfnCallback = m_pfnCallback;
  void* pContext = m_pCallbackContext;
  m_callbackLock.clear(std::memory_order_release);
  if (pfnCallback != NULL) pfnCallback(pData, cbData, pContext);
}

DWORD WINAPI ClientInput::ReceiveThread(LPVOID pParameter) { return static_cast<ClientInput*>(pParameter)->Receive(); }

DWORD ClientInput::Receive() {
  if (FAILED(m_pPin->Instantiate(FALSE))) return kInstantiateFailed;
  int failedStep = RunPin(m_pPin);
  if (failedStep != 0) return kFirstStateStepFailed - static_cast<DWORD>(failedStep - 1);

  // One read at a time: Windows forbids reusing an OVERLAPPED (and this buffer) while its
  // request is still the driver's, so a new read is issued only once the last has completed.
  bool bReadOutstanding = false;
  while (!m_stopRequested) {
    if (!bReadOutstanding) {
      bReadOutstanding = QueueRead();
      if (!bReadOutstanding) {
        PauseAfterFailedRead();
        continue;
      }
    }
    DWORD dwWait = WaitForSingleObject(m_readOverlapped.hEvent, INFINITE);
    if (m_stopRequested) break;
    DWORD cbTransferred = 0;
    if (!GetOverlappedResult(m_pPin->m_handle, &m_readOverlapped, &cbTransferred, FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE) {
      // Woken without a completion (the wait failed, or a stale signal): the read is still
      // outstanding and is waited for again.
      if (dwWait != WAIT_OBJECT_0) Sleep(kReadRetryPauseMs);
      continue;
    }
    bReadOutstanding = false;
    if (CompletedWithRecord(&m_readOverlapped, m_abReadBuffer)) {
      // Success, or a warning with a record: the driver filled it. A ByteCount larger than
      // the frame's room is never read past.
      m_dwRetryPauseMs = 0;
      m_bRetryRunTraced = false;
      Deliver(MidiReadBytes(m_abReadBuffer), MidiReadByteCount(m_abReadBuffer));
    } else {
      // A failed or cancelled read carries no new record: delivering the buffer again would
      // hand the host the previous bytes a second time.
      PauseAfterFailedRead();
    }
  }
  if (bReadOutstanding) m_bReadHeld = !EndQueuedRead();
  return 0;
}

bool ClientInput::QueueRead() {
  PrepareMidiReadHeader(&m_readHeader, m_abReadBuffer);
  // A completion that writes no record must not find the previous one's count here.
  ClearMidiReadByteCount(m_abReadBuffer);
  // One trace line per run of failures: a refusal repeated on every retry would only repeat it.
  bool bQuiet = m_bRetryRunTraced;
  HRESULT hr = m_pPin->ReadData(&m_readHeader, &m_readOverlapped, bQuiet ? CKsPin::kQuietFailure : CKsPin::kTraceFailure);
  if (FAILED(hr)) m_bRetryRunTraced = true;
  return SUCCEEDED(hr);
}

void ClientInput::PauseAfterFailedRead() {
  // While the device is there, one driver error must not silence the input: the read is tried
  // again after a pause. Once the device is gone nothing more can be read, and the thread
  // waits for the stop. The stop signal ends either wait early.
  m_dwRetryPauseMs = m_dwRetryPauseMs == 0 ? kReadRetryPauseMs : std::min(2 * m_dwRetryPauseMs, kLongestReadRetryPauseMs);
  DWORD dwPause = CanOpenInterface(m_pFilter.get()) ? m_dwRetryPauseMs : INFINITE;
  if (WaitForSingleObject(m_readOverlapped.hEvent, dwPause) == WAIT_FAILED) Sleep(kReadRetryPauseMs);
}

bool ClientInput::EndQueuedRead() {
  // The read still refers to this object's header, buffer and OVERLAPPED, and a thread's
  // exit code can be final before the system has cancelled its requests: the thread cancels
  // its own read and waits, for a bounded time, until it has completed.
  m_pPin->CancelPendingIo();
  DWORD dwStart = GetTickCount();
  for (;;) {
    DWORD cbTransferred = 0;
    if (GetOverlappedResult(m_pPin->m_handle, &m_readOverlapped, &cbTransferred, FALSE) ||
        GetLastError() != ERROR_IO_INCOMPLETE)
      return true;
    DWORD dwElapsed = GetTickCount() - dwStart;
    if (dwElapsed >= kCancelWaitMs) return false;
    if (WaitForSingleObject(m_readOverlapped.hEvent, kCancelWaitMs - dwElapsed) == WAIT_FAILED) Sleep(1);
  }
}
