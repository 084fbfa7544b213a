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
  KS_TRACE_ENTER("CKsFilter::GetPinPropertySimple");
  KSP_PIN request = MakePinProperty(nPinId, guidPropertySet, nProperty);
  ULONG cbReturned = 0;
  HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &request, sizeof request, pvValue, cbValue, &cbReturned);
  KS_TRACE_LEAVE_HR("CKsFilter::GetPinPropertySimple", hr);
  return hr;
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem, ULONG* pcbBlock) {
  KS_TRACE_ENTER("CKsFilter::GetPinPropertyMulti");
  KSP_PIN request = MakePinProperty(nPinId, guidPropertySet, nProperty);
  // Unlike the plain property get, a reported size of 0 still hands a (0-byte) buffer over.
  HRESULT hr = GetMultiInTwoRequests(m_handle, &request, sizeof request, true, ppKsMultipleItem, pcbBlock);
  KS_TRACE_LEAVE_HR("CKsFilter::GetPinPropertyMulti", hr);
  return hr;
}
