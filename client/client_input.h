// An input port: a receive thread that runs the device's capture pin, keeps one read pending
// and hands the bytes of every completed record to the host's InputCallback.
#pragma once

#include <atomic>

#include "client/port_common.h"
#include "ks/midi_pin.h"
#include "ks/midi_stream.h"
#include "ks/refcount.h"
#include "platform/owners.h"

class ClientDevice;

class ClientInput : public ClientPort<TarrowinHiddenMIDI::Input, ClientInput> {
 public:
  // Makes a started input on `filter`; null only when memory cannot be obtained.
  static ClientInput* Open(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice);

  void SetCallback(TarrowinHiddenMIDI::InputCallback pfnCallback, void* pContext) override;
  // Hands one received record to the callback, on the receive thread.
  virtual void Deliver(const unsigned char* pData, unsigned int cbData);

 private:
  friend class ClientPort<TarrowinHiddenMIDI::Input, ClientInput>;
  ClientInput(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice);
  static DWORD WINAPI ReceiveThread(LPVOID pParameter);
  DWORD Receive();
  // A read the driver refused, or ended with an error: waits before the next try.
  void PauseAfterFailedRead();
  // Queues the next read; false when the driver refused it.
  bool QueueRead();
  // Cancels the outstanding read and waits a bounded time for it: false when the driver still holds it.
  bool EndQueuedRead();
  void WaitForReceiveThread();
  // The destructor's work; false when the driver still holds a read into this object.
  bool Shutdown();

  BYTE m_abReadBuffer[kMidiReadBufferSize];
  KSSTREAM_HEADER m_readHeader;
  OVERLAPPED m_readOverlapped;
  UniqueHandle m_readEvent;  // the read overlapped's event, which borrows it
  KsRef<CKsMidiFilter> m_pFilter;
  CKsMidiPin* m_pPin;
  UniqueHandle m_hThread;
  DWORD m_dwThreadId;
  std::atomic<bool> m_stopRequested;
  bool m_bReadHeld;  // written by the receive thread before it ends
  ClientDevice* m_pDevice;
  // Failed reads in a row are retried after pauses that grow up to a bound; 0 outside such a
  // run. The run's first refused read writes its trace line, the others none.
  DWORD m_dwRetryPauseMs;
  bool m_bRetryRunTraced;

  // The callback and its context change together: a lock held only while the two pointers are
  // copied guards the pair, and each delivery copies it before calling out. Nobody waits for
  // a delivery under it, so SetCallback never waits for the host's callback.
  void LockCallbackPair();
  std::atomic_flag m_callbackLock;
  TarrowinHiddenMIDI::InputCallback m_pfnCallback;
  void* m_pCallbackContext;
};
