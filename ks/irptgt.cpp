#include "ks/irptgt.h"

#include <cstring>
#include <new>

#include "ks/ks_assert.h"
#include "ks/trace.h"

namespace {

bool HandleIsValid(HANDLE handle) { return handle != NULL && handle != INVALID_HANDLE_VALUE; }

// The validity test applied inline still reads, in the trace, as a call of IsValidHandle.
bool TracedValidity(HANDLE handle) {
  KS_TRACE_ENTER("CKsIrpTarget::IsValidHandle");
  bool valid = HandleIsValid(handle);
  KS_TRACE_LEAVE("CKsIrpTarget::IsValidHandle");
  return valid;
}

bool IsSizeQueryAnswer(DWORD error, ULONG ulIoctl, ULONG cbOutBuffer) {
  return (error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_MORE_DATA) && ulIoctl == IOCTL_KS_PROPERTY &&
         cbOutBuffer == 0;
}

// A request that went pending and has completed: its own status and byte count decide, by
// the same rules as an answer given at once.
HRESULT CompletedResult(HANDLE handle, LPOVERLAPPED pOverlapped, ULONG ulIoctl, ULONG cbOutBuffer,
                        PULONG pcbReturned) {
  DWORD cbTransferred = 0;
  if (GetOverlappedResult(handle, pOverlapped, &cbTransferred, FALSE) ||
      IsSizeQueryAnswer(GetLastError(), ulIoctl, cbOutBuffer)) {
    *pcbReturned = cbTransferred;
    return S_OK;
  }
  *pcbReturned = 0;
  return E_FAIL;
}

KSPROPERTY MakeProperty(REFGUID guidPropertySet, ULONG ulPropertyId, ULONG ulFlags) {
  KSPROPERTY property;
  std::memset(&property, 0, sizeof property);
  property.Set = guidPropertySet;
  property.Id = ulPropertyId;
  property.Flags = ulFlags;
  return property;
}

}  // namespace

CKsIrpTarget::CKsIrpTarget(HANDLE handle) : m_handle(handle) {
  KS_TRACE_ENTER("CKsIrpTarget::CKsIrpTarget");
  KS_TRACE_LEAVE("CKsIrpTarget::CKsIrpTarget");
}

BOOL CKsIrpTarget::IsValidHandle(HANDLE handle) {
  KS_TRACE_ENTER("CKsIrpTarget::IsValidHandle");
  BOOL valid = HandleIsValid(handle) ? TRUE : FALSE;
  KS_TRACE_LEAVE("CKsIrpTarget::IsValidHandle");
  return valid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& handle) {
  KS_TRACE_ENTER("CKsIrpTarget::SafeCloseHandle");
  BOOL result = TRUE;
  if (TracedValidity(handle)) {
    result = CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  KS_TRACE_LEAVE("CKsIrpTarget::SafeCloseHandle");
  return result;
}

BOOL CKsIrpTarget::Close() {
  KS_TRACE_ENTER("CKsIrpTarget::Close");
  BOOL result = SafeCloseHandle(m_handle);
  KS_TRACE_LEAVE("CKsIrpTarget::Close");
  return result;
}

HRESULT CKsIrpTarget::SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer, PVOID pvOutBuffer,
                                ULONG cbOutBuffer, PULONG pcbReturned) {
  KS_TRACE_ENTER("CKsIrpTarget::SyncIoctl");
  HRESULT hr = S_OK;
  ULONG ulLocalReturned = 0;
  if (!TracedValidity(handle)) {
    hr = E_FAIL;
    TracePrintf(TRACE_ERROR, "CKsIrpTarget::SyncIoctl Invalid Handle");
    KS_TRACE_LEAVE_HR("CKsIrpTarget::SyncIoctl", hr);
    return hr;
  }
  if (pcbReturned == NULL) pcbReturned = &ulLocalReturned;

  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  HANDLE hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (hEvent == NULL) {
    hr = E_OUTOFMEMORY;
    TracePrintf(TRACE_ERROR, "CKsIrpTarget::SyncIoctl CreateEvent failed");
    KS_TRACE_LEAVE_HR("CKsIrpTarget::SyncIoctl", hr);
    return hr;
  }
  // Bit 0 keeps the completion away from any I/O completion port bound to the handle.
  hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(hEvent) | 1);
  overlapped.hEvent = hEvent;

  if (!DeviceIoControl(handle, ulIoctl, pvInBuffer, cbInBuffer, pvOutBuffer, cbOutBuffer, pcbReturned,
                       &overlapped)) {
    DWORD dwError = GetLastError();
    if (dwError == ERROR_IO_PENDING) {
      DWORD dwWait = WaitForSingleObject(hEvent, INFINITE);
      KS_ASSERT(WAIT_OBJECT_0 == dwWait);
      if (dwWait != WAIT_OBJECT_0) {
        hr = E_FAIL;
        TracePrintf(TRACE_ERROR, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x",
                    static_cast<unsigned>(dwWait));
        // The request still refers to this call's OVERLAPPED and the caller's buffer: it is
        // cancelled and waited for before either goes away.
        CancelIoEx(handle, &overlapped);
        DWORD cbIgnored = 0;
        GetOverlappedResult(handle, &overlapped, &cbIgnored, TRUE);
        *pcbReturned = 0;
      } else {
        hr = CompletedResult(handle, &overlapped, ulIoctl, cbOutBuffer, pcbReturned);
      }
    } else if (!IsSizeQueryAnswer(dwError, ulIoctl, cbOutBuffer)) {
      hr = E_FAIL;
      *pcbReturned = 0;
    }
  }
  SafeCloseHandle(hEvent);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::SyncIoctl", hr);
  return hr;
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID guidPropertySet, ULONG ulPropertyId,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem, ULONG* pcbBlock) {
  KS_TRACE_ENTER("CKsIrpTarget::GetPropertyMulti");
  KSPROPERTY property = MakeProperty(guidPropertySet, ulPropertyId, KSPROPERTY_TYPE_GET);
  HRESULT hr = GetMultiInTwoRequests(m_handle, &property, sizeof property, false, ppKsMultipleItem, pcbBlock);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::GetPropertyMulti", hr);
  return hr;
}

HRESULT GetMultiInTwoRequests(HANDLE handle, PVOID pvRequest, ULONG cbRequest, bool bAllocateEmpty,
                              PKSMULTIPLE_ITEM* ppKsMultipleItem, ULONG* pcbBlock) {
  if (pcbBlock != NULL) *pcbBlock = 0;
  ULONG cbNeeded = 0;
  HRESULT hr = CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, NULL, 0, &cbNeeded);
  if (FAILED(hr) || (cbNeeded == 0 && !bAllocateEmpty)) return hr;
  // Zero-filled, so that bytes the driver did not write read as zero rather than as garbage.
  BYTE* pBuffer = new (std::nothrow) BYTE[cbNeeded]();
  *ppKsMultipleItem = reinterpret_cast<PKSMULTIPLE_ITEM>(pBuffer);
  if (pBuffer == NULL) return E_OUTOFMEMORY;
  if (pcbBlock != NULL) *pcbBlock = cbNeeded;
  return CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, pBuffer, cbNeeded, NULL);
}

HRESULT CKsIrpTarget::SetPropertySimple(REFGUID guidPropertySet, ULONG ulPropertyId, PVOID pvValue, ULONG cbValue,
                                        PVOID pvExtra, ULONG cbExtra) {
  KS_TRACE_ENTER("CKsIrpTarget::SetPropertySimple");
  HRESULT hr = E_OUTOFMEMORY;
  // A size that would wrap cannot be allocated either; extra bytes not supplied are zero.
  ULONG cbRequest = sizeof(KSPROPERTY) + cbExtra;
  BYTE* pRequest = cbRequest < cbExtra ? NULL : new (std::nothrow) BYTE[cbRequest]();
  if (pRequest != NULL) {
    KSPROPERTY property = MakeProperty(guidPropertySet, ulPropertyId, KSPROPERTY_TYPE_SET);
    std::memcpy(pRequest, &property, sizeof property);
    if (pvExtra != NULL) std::memcpy(pRequest + sizeof property, pvExtra, cbExtra);
    ULONG cbReturned = 0;
    hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, pRequest, cbRequest, pvValue, cbValue, &cbReturned);
    delete[] pRequest;
  }
  KS_TRACE_LEAVE_HR("CKsIrpTarget::SetPropertySimple", hr);
  return hr;
}
