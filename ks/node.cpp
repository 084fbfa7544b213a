#include "ks/node.h"

#include "ks/trace.h"

CKsNode::CKsNode(ULONG ulNodeId, REFGUID guidType, HRESULT* phr)
    : m_ulNodeId(ulNodeId), m_ulTag(kTag), m_guidType(guidType) {
  KS_TRACE_ENTER("CKsNode::CKsNode");
  KS_TRACE_LEAVE_HR("CKsNode::CKsNode", S_OK);
  *phr = S_OK;
}
