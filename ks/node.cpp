#include "ks/node.h"

#include "ks/trace.h"

CKsNode::CKsNode(ULONG ulNodeId, REFGUID guidType, HRESULT* phr)
    : m_ulNodeId(ulNodeId), m_ulTag(kTag), m_guidType(guidType) {
  HRESULT hr = S_OK;
  KS_TRACE_SCOPE_HR("CKsNode::CKsNode", hr);
  *phr = hr;
}
