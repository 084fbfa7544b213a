// A device with a hidden MIDI port, as one enumeration found it. It holds its own reference
// on that filter for its whole life; its ports enumerate again and hold filters of their own.
#pragma once

#include "client/TarrowinHiddenMIDI.h"
#include "ks/midi_filter.h"
#include "ks/refcount.h"

class ClientDevice final : public TarrowinHiddenMIDI::Device {
 public:
  ClientDevice(KsRef<CKsMidiFilter> filter, LONG lPosition);
  ClientDevice(const ClientDevice&) = delete;
  ClientDevice& operator=(const ClientDevice&) = delete;

  void* ScalarDeletingDestructor(unsigned int flags) override;
  const char* GetName() override;
  int GetTypeCode() override;
  int GetProductId() override;
  int GetInputCount() override;
  int GetOutputCount() override;
  TarrowinHiddenMIDI::Input* OpenInput(int index) override;
  TarrowinHiddenMIDI::Output* OpenOutput(int index) override;

 private:
  // The filter at this device's position plus `index` in a fresh enumeration.
  KsRef<CKsMidiFilter> ReferencePortFilter(int index) const;

  KsRef<CKsMidiFilter> m_pFilter;
  LONG m_lPosition;
};
