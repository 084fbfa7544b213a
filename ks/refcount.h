// Root of every kernel-streaming object: a plain, non-interlocked reference count.
#pragma once

#include <utility>

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

// One counted reference to a kernel-streaming object: copying adds a reference, destruction
// or reset drops it. Constructing from a pointer takes over a reference the caller holds.
template <class T>
class KsRef {
 public:
  KsRef() = default;
  explicit KsRef(T* pObject) : m_pObject(pObject) {}
  // A reference of its own to an object someone else holds (NULL gives an empty KsRef).
  static KsRef Share(T* pObject) {
    if (pObject != NULL) ++pObject->m_lRefCount;
    return KsRef(pObject);
  }
  KsRef(const KsRef& other) : KsRef(Share(other.m_pObject)) {}
  KsRef(KsRef&& other) noexcept : m_pObject(other.release()) {}
  KsRef& operator=(KsRef other) noexcept {
    std::swap(m_pObject, other.m_pObject);
    return *this;
  }
  ~KsRef() { reset(); }

  T* get() const { return m_pObject; }
  T* operator->() const { return m_pObject; }
  explicit operator bool() const { return m_pObject != NULL; }
  T* release() { return std::exchange(m_pObject, nullptr); }
  void reset() {
    if (T* pObject = release()) DropReference(pObject);
  }

 private:
  T* m_pObject = NULL;
};
