#include "client/hidden_port_devices.h"

#include "client/filter_list.h"

namespace {

typedef TKsFilterList<CKsMidiFilter> MidiFilterList;

// Interface paths compare as the device list compares them: without regard to letter case.
bool IsInterface(const CKsMidiFilter* pFilter, LPCSTR pszPath) {
  return pFilter != NULL && _mbsicmp(reinterpret_cast<const unsigned char*>(pFilter->m_szFilterName),
                                     reinterpret_cast<const unsigned char*>(pszPath)) == 0;
}

}  // namespace

unsigned int CountHiddenPortDevices() {
  MidiFilterList list(KSCATEGORY_AUDIO);
  list.Enumerate();
  return static_cast<unsigned int>(list.GetFilterCount());
}

KsRef<CKsMidiFilter> ReferenceHiddenPortFilter(LONG position) {
  if (position < 0) return KsRef<CKsMidiFilter>();
  MidiFilterList list(KSCATEGORY_AUDIO);
  list.Enumerate();
  return KsRef<CKsMidiFilter>::Share(list.GetFilter(static_cast<ULONG_PTR>(position)));
}

KsRef<CKsMidiFilter> ReferenceOwnHiddenPortFilter(LONG position, LPCSTR pszOwnPath) {
  MidiFilterList list(KSCATEGORY_AUDIO);
  list.Enumerate();
  CKsMidiFilter* pAtPosition = position < 0 ? NULL : list.GetFilter(static_cast<ULONG_PTR>(position));
  if (IsInterface(pAtPosition, pszOwnPath)) return KsRef<CKsMidiFilter>::Share(pAtPosition);
  for (ULONG_PTR i = 0; i < list.GetFilterCount(); ++i)
    if (IsInterface(list.GetFilter(i), pszOwnPath)) return KsRef<CKsMidiFilter>::Share(list.GetFilter(i));
  return KsRef<CKsMidiFilter>();
}
