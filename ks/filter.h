// One kernel-streaming filter: a device interface opened by its path, its pin objects sorted
// by data flow and communication, its topology nodes, and the pin property requests.
#pragma once

#include "ks/irptgt.h"
#include "ks/node.h"
#include "ks/tlist.h"

class CKsPin;

class CKsFilter : public CKsIrpTarget {
 public:
  CKsFilter(LPCSTR pszName, HRESULT* phr);
  ~CKsFilter() override;

  virtual HRESULT Instantiate();
  virtual HRESULT EnumerateNodes();
  virtual HRESULT EnumeratePins();
  virtual HRESULT DestroyLists();

  HRESULT ClassifyPins();

  // Pin property requests: a KSP_PIN get for one pin factory.
  HRESULT GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                               ULONG cbValue);
  // The block belongs to the caller once stored, whatever the second request returned.
  // *pcbBlock, when asked for, receives the block's size: the driver's Size and Count are
  // checked against it before anything behind the header is read.
  HRESULT GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                              std::unique_ptr<BYTE[]>* ppBlock, ULONG* pcbBlock = NULL);

  TList<CKsNode> m_listNodes;               // owns its nodes
  TList<CKsPin> m_listPins;                 // owns its pins
  TList<CKsPin> m_listRenderSinkPins;
  TList<CKsPin> m_listCaptureSourcePins;
  TList<CKsPin> m_listCaptureSinkPins;
  TList<CKsPin> m_listRenderSourcePins;
  TList<CKsPin> m_listNoCommPins;
  CHAR m_szFilterName[MAX_PATH];
  // Written by whoever lists the filter; zero until then so it never shows stale bytes.
  CHAR m_szFriendlyName[MAX_PATH] = {};

  // True when one of the five classified lists holds a pin; NONE pins count only when asked.
  bool HasClassifiedPins(bool bCountNoCommPins) const;

 private:
  HRESULT InternalInit();
  void CopyFilterName(LPCSTR pszName);
  HRESULT ClassifyPin(CKsPin* pPin);
};
