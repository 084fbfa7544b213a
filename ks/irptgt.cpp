#include "ks/irptgt.h"

#include <cstring>
#include <new>

#include "ks/ks_assert.h"
#include "ks/trace.h"

namespace {

bool IsSizeQueryAnswer(DWORD error, ULONG ulIoctl, ULONG cbOutBuffer) {
  return (error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_MORE_DATA) && ulIoctl == IOCTL_KS_PROPERTY &&
         cbOutBuffer == 0;
}

// A request that went pending: once its event is signalled, its own status and byte count
// decide, by the same rules as an answer given at once.
HRESULT AwaitCompletion(HANDLE handle, LPOVERLAPPED pOverlapped, ULONG ulIoctl, ULONG cbOutBuffer,
                        PULONG pcbReturned) {
  DWORD dwWait = WaitForSingleObject(pOverlapped->hEvent, INFINITE);
  KS_ASSERT(WAIT_OBJECT_0 == dwWait);
  DWORD cbTransferred = 0;
  if (dwWait != WAIT_OBJECT_0) {
    TracePrintf(TRACE_ERROR, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x",
                static_cast<unsigned>(dwWait));
    // The request still refers to this call's OVERLAPPED and the caller's buffer: it is
    // cancelled and waited for before either goes away.
    CancelIoEx(handle, pOverlapped);
    GetOverlappedResult(handle, pOverlapped, &cbTransferred, TRUE);
  } else if (GetOverlappedResult(handle, pOverlapped, &cbTransferred, FALSE) ||
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

CKsIrpTarget::CKsIrpTarget(HANDLE handle) : m_handle(handle) { KS_TRACE_SCOPE("CKsIrpTarget::CKsIrpTarget"); }

BOOL CKsIrpTarget::IsValidHandle(HANDLE handle) {
  KS_TRACE_SCOPE("CKsIrpTarget::IsValidHandle");
  return handle != NULL && handle != INVALID_HANDLE_VALUE;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& handle) {
  KS_TRACE_SCOPE("CKsIrpTarget::SafeCloseHandle");
  if (!IsValidHandle(handle)) return TRUE;
  BOOL result = CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
  return result;
}

BOOL CKsIrpTarget::Close() {
  KS_TRACE_SCOPE("CKsIrpTarget::Close");
  return SafeCloseHandle(m_handle);
}

HRESULT CKsIrpTarget::SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer, PVOID pvOutBuffer,
                                ULONG cbOutBuffer, PULONG pcbReturned) {
  HRESULT hr = E_FAIL;
  KS_TRACE_SCOPE_HR("CKsIrpTarget::SyncIoctl", hr);
  if (!IsValidHandle(handle)) {
    TracePrintf(TRACE_ERROR, "CKsIrpTarget::SyncIoctl Invalid Handle");
    return hr;
  }
  ULONG ulLocalReturned = 0;
  if (pcbReturned == NULL) pcbReturned = &ulLocalReturned;

  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  HANDLE hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
  if (hEvent == NULL) {
    hr = E_OUTOFMEMORY;
    TracePrintf(TRACE_ERROR, "CKsIrpTarget::SyncIoctl CreateEvent failed");
    return hr;
  }
  // Bit 0 keeps the completion away from any I/O completion port bound to the handle.
  hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(hEvent) | 1);
  overlapped.hEvent = hEvent;

  hr = S_OK;
  if (!DeviceIoControl(handle, ulIoctl, pvInBuffer, cbInBuffer, pvOutBuffer, cbOutBuffer, pcbReturned,
                       &overlapped)) {
    DWORD dwError = GetLastError();
    if (dwError == ERROR_IO_PENDING) {
      hr = AwaitCompletion(handle, &overlapped, ulIoctl, cbOutBuffer, pcbReturned);
    } else if (!IsSizeQueryAnswer(dwError, ulIoctl, cbOutBuffer)) {
      hr = E_FAIL;
      *pcbReturned = 0;
    }
  }
  SafeCloseHandle(hEvent);
  return hr;
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID guidPropertySet, ULONG ulPropertyId, std::unique_ptr<BYTE[]>* ppBlock,
                                       ULONG* pcbBlock) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsIrpTarget::GetPropertyMulti", hr);
  KSPROPERTY property = MakeProperty(guidPropertySet, ulPropertyId, KSPROPERTY_TYPE_GET);
  hr = GetMultiInTwoRequests(m_handle, &property, sizeof property, false, ppBlock, pcbBlock);
  return hr;
}

HRESULT GetMultiInTwoRequests(HANDLE handle, PVOID pvRequest, ULONG cbRequest, bool bAllocateEmpty,
                              std::unique_ptr<BYTE[]>* ppBlock, ULONG* pcbBlock) {
  if (pcbBlock != NULL) *pcbBlock = 0;
  ULONG cbNeeded = 0;
  HRESULT hr = CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, NULL, 0, &cbNeeded);
  if (FAILED(hr) || (cbNeeded == 0 && !bAllocateEmpty)) return hr;
  // Zero-filled, so that bytes the driver did not write read as zero rather than as garbage.
  ppBlock->reset(new (std::nothrow) BYTE[cbNeeded]());
  if (*ppBlock == nullptr) return E_OUTOFMEMORY;
  if (pcbBlock != NULL) *pcbBlock = cbNeeded;
  return CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvRequest, cbRequest, ppBlock->get(), cbNeeded, NULL);
}

HRESULT CKsIrpTarget::SetPropertySimple(REFGUID guidPropertySet, ULONG ulPropertyId, PVOID pvValue, ULONG cbValue,
                                        PVOID pvExtra, ULONG cbExtra) {
  HRESULT hr = E_OUTOFMEMORY;
  KS_TRACE_SCOPE_HR("CKsIrpTarget::SetPropertySimple", hr);
  // A size that would wrap cannot be allocated either; extra bytes not supplied are zero.
  ULONG cbRequest = sizeof(KSPROPERTY) + cbExtra;
  std::unique_ptr<BYTE[]> pRequest(cbRequest < cbExtra ? NULL : new (std::nothrow) BYTE[cbRequest]());
  if (pRequest == nullptr) return hr;
  KSPROPERTY property = MakeProperty(guidPropertySet, ulPropertyId, KSPROPERTY_TYPE_SET);
  std::memcpy(pRequest.get(), &property, sizeof property);
  if (pvExtra != NULL) std::memcpy(pRequest.get() + sizeof property, pvExtra, cbExtra);
  ULONG cbReturned = 0;
  hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, pRequest.get(), cbRequest, pvValue, cbValue, &cbReturned);
  return hr;
}
