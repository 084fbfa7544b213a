// An output port: the device's render pin, running from the moment the port opens. Send cuts
// the caller's bytes into requests of at most 640 bytes and writes them one at a time.
#pragma once

#include "client/port_common.h"
#include "ks/midi_pin.h"
#include "ks/midi_stream.h"
#include "ks/refcount.h"
#include "platform/owners.h"

class ClientDevice;

class ClientOutput : public ClientPort<TarrowinHiddenMIDI::Output, ClientOutput> {
 public:
  // Makes an output on `filter` and starts its pin. Null when memory or an event cannot be
  // obtained, or when the pin cannot be found or started; everything the attempt obtained is
  // then released exactly once.
  static ClientOutput* Open(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice);

  bool Send(const unsigned char* pbData, int cbData) override;
  int GetStatus() override;

 private:
  friend class ClientPort<TarrowinHiddenMIDI::Output, ClientOutput>;
  ClientOutput(KsRef<CKsMidiFilter> filter, ClientDevice* pDevice);
  bool StartPin();
  // Waits for the previous write to end, then writes one chunk of `cbChunk` (1 to 640)
  // bytes. False when the driver refused the write.
  bool WriteOneChunk(const BYTE* pbChunk, ULONG cbChunk);
  // Waits for a write in flight to end, cancelling it when it takes too long. False when the
  // driver still holds the write buffer, so the memory must not be reused.
  bool WaitForWriteInFlight();
  // Releases everything the output holds. False when the driver still holds the write buffer.
  bool Shutdown();

  BYTE m_abWriteBuffer[kMidiWriteBufferSize];
  KSSTREAM_HEADER m_writeHeader;
  OVERLAPPED m_writeOverlapped;
  UniqueHandle m_writeDoneEvent;  // the write overlapped's event, which borrows it
  UniqueHandle m_hSendLock;
  KsRef<CKsMidiFilter> m_pFilter;
  CKsMidiPin* m_pPin;
  ClientDevice* m_pDevice;
};
