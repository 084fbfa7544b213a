// Base of every kernel-streaming object that owns a file handle: handle validity, close,
// one synchronous I/O-control call over an overlapped handle, and two property requests.
#pragma once

#include <memory>

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
  // Gets a variable-size value (a KSMULTIPLE_ITEM) into a new block, stored in *ppBlock as soon
  // as it is made. *pcbBlock, when asked for, receives the block's size (0 when none was stored).
  HRESULT GetPropertyMulti(REFGUID guidPropertySet, ULONG ulPropertyId, std::unique_ptr<BYTE[]>* ppBlock,
                           ULONG* pcbBlock = NULL);
  HRESULT SetPropertySimple(REFGUID guidPropertySet, ULONG ulPropertyId, PVOID pvValue, ULONG cbValue,
                            PVOID pvExtra, ULONG cbExtra);

  HANDLE m_handle;
};

// The two requests of a variable-size get: a size query, then the value into a new block of
// the reported size. A reported size of 0 makes a 0-byte block only when asked to.
HRESULT GetMultiInTwoRequests(HANDLE handle, PVOID pvRequest, ULONG cbRequest, bool bAllocateEmpty,
                              std::unique_ptr<BYTE[]>* ppBlock, ULONG* pcbBlock);
