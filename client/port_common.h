// What the input and the output port share: their common interface operations, presence of
// their interface and the pin's state steps.
#pragma once

#include "client/TarrowinHiddenMIDI.h"
#include "client/deleting_destructor.h"
#include "ks/midi_filter.h"
#include "ks/pin.h"

// True when the filter's interface can be opened at this moment; the port's own pin is
// neither used nor disturbed. False without a filter.
bool CanOpenInterface(const CKsMidiFilter* pFilter);

// The operations an input (Interface TarrowinHiddenMIDI::Input) and an output implement alike.
// They work on the fields of `Port`, the derived class, which keeps its own field order and
// makes this base its friend: m_pFilter, m_pDevice, and Shutdown, which releases what the port
// holds and answers false while the driver still holds memory of the object.
template <class Interface, class Port>
class ClientPort : public Interface {
 public:
  ClientPort(const ClientPort&) = delete;
  ClientPort& operator=(const ClientPort&) = delete;

  void* ScalarDeletingDestructor(unsigned int flags) override {
    Port* pPort = static_cast<Port*>(this);
    // Memory the driver may still write into is left allocated rather than handed out again.
    bool bReusable = pPort->Shutdown();
    return DestroyAndMaybeFree(pPort, bReusable ? flags : 0);
  }
  TarrowinHiddenMIDI::Device* GetDevice() override { return static_cast<Port*>(this)->m_pDevice; }
  bool IsPresent() override { return CanOpenInterface(static_cast<Port*>(this)->m_pFilter.get()); }

 protected:
  ClientPort() = default;
};

// Steps a live pin through KSSTATE_ACQUIRE, KSSTATE_PAUSE and KSSTATE_RUN, stopping at the
// first failure. Returns 0, or the step that failed: 1, 2 or 3.
int RunPin(CKsPin* pPin);

// Steps a pin down through KSSTATE_PAUSE, KSSTATE_ACQUIRE and KSSTATE_STOP; results ignored.
void StopPin(CKsPin* pPin);

// True while the request of `pOverlapped` is still pending. Asked without waiting, so no
// handle is needed (the pin may be gone with its filter).
bool RequestStillPending(OVERLAPPED* pOverlapped);

// True when the read of `pOverlapped` has completed with a record in `pReadBuffer`: with
// success, or with a warning status (such as a buffer overflow that still filled the buffer)
// and a record of at least one byte. False while it is pending, after an error, and after a
// warning that brought no data.
bool CompletedWithRecord(const OVERLAPPED* pOverlapped, const BYTE* pReadBuffer);
