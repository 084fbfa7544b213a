#include "client/hidden_port_devices.h"

#include "client/filter_list.h"

namespace {

typedef TKsFilterList<CKsMidiFilter> MidiFilterList;

}  // namespace

unsigned int CountHiddenPortDevices() {
  MidiFilterList list(KSCATEGORY_AUDIO);
  list.Enumerate();
  return static_cast<unsigned int>(list.GetFilterCount());
}

CKsMidiFilter* ReferenceHiddenPortFilter(LONG position) {
  if (position < 0) return NULL;
  MidiFilterList list(KSCATEGORY_AUDIO);
  list.Enumerate();
  CKsMidiFilter* pFilter = list.GetFilter(static_cast<ULONG_PTR>(position));
  if (pFilter != NULL) ++pFilter->m_lRefCount;
  return pFilter;
}
