// A pin that connects as a MIDI stream: its connection request carries the format of the
// pin's first data range.
#pragma once

#include "ks/pin.h"

// The MIDI connection request: a KSPIN_CONNECT immediately followed by a KSDATAFORMAT.
struct MidiConnectRequest {
  KSPIN_CONNECT Connect;
  KSDATAFORMAT Format;
};

class CKsMidiPin : public CKsPin {
 public:
  CKsMidiPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr) : CKsPin(pFilter, nId, phr) {}

  // E_FAIL for a pin without a data range, E_OUTOFMEMORY when the request cannot be built,
  // else the result of storing the request and creating the kernel pin.
  HRESULT Instantiate(BOOL fLooped) override;

  // Fills a zeroed request for this pin; the pin must hold a data range.
  void BuildConnect(MidiConnectRequest* pRequest) const;
};
