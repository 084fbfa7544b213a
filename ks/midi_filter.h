// A filter whose pin objects are made only for pin factories that the process-wide
// data-range matcher accepts: the MIDI pins.
#pragma once

#include "ks/filter.h"

class CKsMidiFilter : public CKsFilter {
 public:
  // Pin types of FindPin.
  static const ULONG kRenderPin = 1;
  static const ULONG kCapturePin = 2;

  CKsMidiFilter(LPCSTR pszName, HRESULT* phr) : CKsFilter(pszName, phr) {}

  // S_OK when at least one MIDI pin classifies as a render or capture pin; NONE pins do not count.
  HRESULT EnumeratePins() override;

  // The index-th render-sink pin for type 1, else the index-th capture-sink pin; NULL when the
  // list is shorter. The filter keeps owning the pin.
  CKsPin* FindPin(ULONG nPinType, ULONG nIndex);

 private:
  HRESULT AddMidiPin(ULONG nPinId);
};
