// Doubly linked list of element pointers. The list allocates its own nodes and never owns
// the elements: whoever empties a list decides whether each element is deleted.
#pragma once

#include <memory>
#include <new>

#include "ks/ks_assert.h"

template <class T>
class TList {
 public:
  struct TListNode {
    TListNode* pNext;
    TListNode* pPrev;
    T* pData;
  };

  TList() = default;
  TList(const TList&) = delete;
  TList& operator=(const TList&) = delete;

  ~TList() {
    KS_ASSERT(NULL == m_pHead);
    KS_ASSERT(NULL == m_pTail);
    KS_ASSERT(0 == m_lCount);
  }

  // Returns the new node, or NULL (list unchanged) when no node could be allocated.
  TListNode* AddTail(T* pData) {
    TListNode* pNode = new (std::nothrow) TListNode;
    if (pNode == NULL) return NULL;
    pNode->pNext = NULL;
    pNode->pPrev = m_pTail;
    pNode->pData = pData;
    if (m_pTail != NULL) {
      m_pTail->pNext = pNode;
    } else {
      m_pHead = pNode;
    }
    m_pTail = pNode;
    ++m_lCount;
    return pNode;
  }

  // Only called on a non-empty list.
  T* RemoveHead() {
    TListNode* pNode = m_pHead;
    T* pData = pNode->pData;
    m_pHead = pNode->pNext;
    if (m_pHead != NULL) {
      m_pHead->pPrev = NULL;
    } else {
      m_pTail = NULL;
    }
    delete pNode;
    --m_lCount;
    KS_ASSERT(m_lCount >= 0);
    return pData;
  }

  bool IsEmpty() const { return m_lCount == 0; }

  TListNode* m_pHead = NULL;
  TListNode* m_pTail = NULL;
  LONG m_lCount = 0;
};

// For a list that owns its elements: appends the element and takes it over; when no node can
// be allocated the caller keeps it and decides when it goes.
template <class T>
bool AddOwned(TList<T>& list, std::unique_ptr<T>& pData) {
  if (list.AddTail(pData.get()) == NULL) return false;
  pData.release();
  return true;
}

// For a list that owns its elements: empties it from the head, deleting each element.
template <class T>
void DeleteAll(TList<T>& list) {
  while (!list.IsEmpty()) delete list.RemoveHead();
}
