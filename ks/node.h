// One topology node of a filter: a plain record, no virtual operations.
#pragma once

#include "platform/win32.h"

class CKsNode {
 public:
  // The tag reads "NONE" in memory.
  static const ULONG kTag = 0x454E4F4E;

  CKsNode(ULONG ulNodeId, REFGUID guidType, HRESULT* phr);

  ULONG m_ulNodeId;
  ULONG m_ulTag;
  GUID m_guidType;
};
