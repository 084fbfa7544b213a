// An output port: the device's render pin, running from the moment the port opens. Send cuts
// the caller's bytes into requests of at most 640 bytes and writes them one at a time.
#pragma once

#include "client/TarrowinHiddenMIDI.h"
#include "ks/midi_filter.h"
#include "ks/midi_pin.h"
#include "ks/midi_stream.h"

class ClientDevice;

class ClientOutput : public TarrowinHiddenMIDI::Output {
 public:
  // Makes an output on `pFilter`, taking over one reference on it, and starts its pin. Null
  // when memory or an event cannot be obtained, or when the pin cannot be found or started;
  // everything the attempt obtained is then released exactly once.
  static ClientOutput* Open(CKsMidiFilter* pFilter, ClientDevice* pDevice);

  ~ClientOutput();
  ClientOutput(const ClientOutput&) = delete;
  ClientOutput& operator=(const ClientOutput&) = delete;

  // Frees the object only once no write can still complete into it.
  void* ScalarDeletingDestructor(unsigned int flags) override;
  TarrowinHiddenMIDI::Device* GetDevice() override;
  bool Send(const unsigned char* pbData, int cbData) override;
  int GetStatus() override;
  bool IsPresent() override;

 private:
  ClientOutput(CKsMidiFilter* pFilter, ClientDevice* pDevice);
  bool StartPin();
  // Waits for the previous write to end, then writes `cbChunk` (1 to 640) bytes. False when
  // the driver refused the write.
  bool Flush(const BYTE* pbChunk, ULONG cbChunk);
  // Waits for a write in flight to end, cancelling it when it takes too long. False when the
  // driver still holds the write buffer, so the memory must not be reused.
  bool WaitForWriteInFlight();
  // Releases everything the output holds. False when the driver still holds the write buffer.
  bool Shutdown();

  BYTE m_abWriteBuffer[kMidiWriteBufferSize];
  KSSTREAM_HEADER m_writeHeader;
  OVERLAPPED m_writeOverlapped;  // its event is the write-done event
  HANDLE m_hSendLock;
  CKsMidiFilter* m_pFilter;
  CKsMidiPin* m_pPin;
  ClientDevice* m_pDevice;
};
