// The filter's pin property requests: a KSP_PIN get about one pin factory.
#include <cstring>

#include "ks/filter.h"
#include "ks/trace.h"

namespace {

KSP_PIN MakePinProperty(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty) {
  KSP_PIN request;
  std::memset(&request, 0, sizeof request);
  request.Property.Set = guidPropertySet;
  request.Property.Id = nProperty;
  request.Property.Flags = KSPROPERTY_TYPE_GET;
  request.PinId = nPinId;
  request.Reserved = 0;
  return request;
}

}  // namespace

HRESULT CKsFilter::GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                                        ULONG cbValue) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::GetPinPropertySimple", hr);
  KSP_PIN request = MakePinProperty(nPinId, guidPropertySet, nProperty);
  ULONG cbReturned = 0;
  hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, pvValue, cbValue, &cbReturned);
  return hr;
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                       std::unique_ptr<BYTE[]>* ppBlock, ULONG* pcbBlock) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsFilter::GetPinPropertyMulti", hr);
  KSP_PIN request = MakePinProperty(nPinId, guidPropertySet, nProperty);
  // Unlike the plain property get, a reported size of 0 still hands a (0-byte) block over.
  hr = GetMultiInTwoRequests(m_handle, &request, sizeof request, true, ppBlock, pcbBlock);
  return hr;
}
