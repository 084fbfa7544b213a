// Base of every kernel-streaming object that owns a file handle: handle validity, close,
// one synchronous I/O-control call over an overlapped handle, and two property requests.
#pragma once

#include "ks/refcount.h"

class CKsIrpTarget : public CRefCountedObject {
 public:
  explicit CKsIrpTarget(HANDLE handle);
  // Closing m_handle is the subclasses' business.
  ~CKsIrpTarget() override = default;

  static BOOL IsValidHandle(HANDLE handle);
  // Closes a valid handle and leaves INVALID_HANDLE_VALUE in the variable, even when CloseHandle fails.
  static BOOL SafeCloseHandle(HANDLE& handle);
  // Sends one request and waits for it; a property size query (output size 0) answered with
  // ERROR_INSUFFICIENT_BUFFER or ERROR_MORE_DATA succeeds with the needed size in *pcbReturned.
  static HRESULT SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer, PVOID pvOutBuffer,
                           ULONG cbOutBuffer, PULONG pcbReturned);

  BOOL Close();
  // Gets a variable-size value; the buffer (array new) belongs to the caller once stored.
  // *pcbBlock, when asked for, receives the buffer's size (0 when none was stored).
  HRESULT GetPropertyMulti(REFGUID guidPropertySet, ULONG ulPropertyId, PKSMULTIPLE_ITEM* ppKsMultipleItem,
                           ULONG* pcbBlock = NULL);
  HRESULT SetPropertySimple(REFGUID guidPropertySet, ULONG ulPropertyId, PVOID pvValue, ULONG cbValue,
                            PVOID pvExtra, ULONG cbExtra);

  HANDLE m_handle;
};

// The two requests of a variable-size get: a size query, then the value into a new buffer
// of the reported size. A reported size of 0 allocates a 0-byte buffer only when asked to.
HRESULT GetMultiInTwoRequests(HANDLE handle, PVOID pvRequest, ULONG cbRequest, bool bAllocateEmpty,
                              PKSMULTIPLE_ITEM* ppKsMultipleItem, ULONG* pcbBlock);
