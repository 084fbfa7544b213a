// Root of every kernel-streaming object: a plain, non-interlocked reference count.
#pragma once

#include "platform/win32.h"

class CRefCountedObject {
 public:
  CRefCountedObject() = default;
  CRefCountedObject(const CRefCountedObject&) = delete;
  CRefCountedObject& operator=(const CRefCountedObject&) = delete;
  // Slot 0: the only virtual operation. Holders delete through it when they drop the count to 0.
  virtual ~CRefCountedObject() = default;

  // Holders change the count themselves: ++ to add a reference, see DropReference to release.
  LONG m_lRefCount = 1;
};

// Drops one reference; the holder that takes the count from 1 to 0 deletes the object.
inline void DropReference(CRefCountedObject* pObject) {
  if (--pObject->m_lRefCount == 0) delete pObject;
}
