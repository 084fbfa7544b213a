#include "client/client_device.h"

#include <cstring>

#include "client/client_input.h"
#include "client/client_output.h"
#include "client/deleting_destructor.h"
#include "client/hidden_port_devices.h"

namespace {

const int kTypeCode = 67;

struct ProductMatch {
  const char* pszPathPart;
  int nProductId;
};

// Searched in this order, exactly and with case: the first part found in the path wins.
const ProductMatch kProducts[] = {{"pid_0a3c", 0x0A3C}, {"pid_0b5d", 0x0B5D}};
const int kDefaultProductId = 0x0C21;

}  // namespace

ClientDevice::ClientDevice(KsRef<CKsMidiFilter> filter, LONG lPosition)
    : m_pFilter(std::move(filter)), m_lPosition(lPosition) {}

void* ClientDevice::ScalarDeletingDestructor(unsigned int flags) { return DestroyAndMaybeFree(this, flags); }

const char* ClientDevice::GetName() { return m_pFilter->m_szFriendlyName; }

int ClientDevice::GetTypeCode() { return kTypeCode; }

int ClientDevice::GetProductId() {
  for (const ProductMatch& match : kProducts)
    if (std::strstr(m_pFilter->m_szFilterName, match.pszPathPart) != NULL) return match.nProductId;
  return kDefaultProductId;
}

int ClientDevice::GetInputCount() { return 1; }

int ClientDevice::GetOutputCount() { return 1; }

KsRef<CKsMidiFilter> ClientDevice::ReferencePortFilter(int index) const {
  // The position is a 32-bit sum; computed unsigned so that it wraps as the host expects.
  LONG lPosition = static_cast<LONG>(static_cast<ULONG>(m_lPosition) + static_cast<ULONG>(index));
  // A position names whatever device is there now: the device's own port must reach the
  // device itself, or the host's MIDI would go to another device. Index 1 keeps naming the
  // next position.
  if (index == 0) return ReferenceOwnHiddenPortFilter(lPosition, m_pFilter->m_szFilterName);
  return ReferenceHiddenPortFilter(lPosition);
}

TarrowinHiddenMIDI::Input* ClientDevice::OpenInput(int index) {
  KsRef<CKsMidiFilter> filter = ReferencePortFilter(index);
  return filter ? ClientInput::Open(std::move(filter), this) : NULL;
}

TarrowinHiddenMIDI::Output* ClientDevice::OpenOutput(int index) {
  KsRef<CKsMidiFilter> filter = ReferencePortFilter(index);
  return filter ? ClientOutput::Open(std::move(filter), this) : NULL;
}
