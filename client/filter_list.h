// A device list that opens every offered interface as a kernel-streaming filter and keeps the
// filters whose pins pass the process-wide data-range matcher. The list holds one reference
// on each kept filter; a device or port that wants a filter beyond the list's life adds its own.
#pragma once

#include <cstring>
#include <new>

#include "client/device_list.h"
#include "ks/refcount.h"

template <class TFilter>
class TKsFilterList : public CDeviceList {
 public:
  explicit TKsFilterList(REFGUID guidCategory)
      : CDeviceList(guidCategory), m_apFilters(), m_cFilters(0), m_apFilterRecords(), m_cFilterRecords(0) {}

  // Releases the filters from the last to the first; the base part then deletes the records.
  virtual ~TKsFilterList() {
    while (m_cFilters != 0) m_apFilters[--m_cFilters].reset();
  }

  // A filter that is not kept holds only its construction reference, and goes with `filter`.
  bool OnDeviceAdded(DeviceRecord* pRecord) override {
    if (m_cFilters >= kMaxDevices) return false;
    KsRef<TFilter> filter = MakeFilter(pRecord);
    if (!filter) return false;
    if (FAILED(filter->Instantiate()) || FAILED(filter->EnumeratePins()) || !AcceptFilter(filter.get())) return false;
    // The construction reference becomes the list's.
    m_apFilters[m_cFilters++] = std::move(filter);
    m_apFilterRecords[m_cFilterRecords++] = pRecord;
    return true;
  }

  void OnDeviceRemoved(DeviceRecord* pRecord) override {
    for (ULONG_PTR i = 0; i < m_cFilters; ++i) {
      if (m_apFilterRecords[i] != pRecord || !m_apFilters[i]) continue;
      m_apFilters[i]->Close();
      m_apFilters[i].reset();
      m_apFilterRecords[i] = NULL;
    }
  }

  virtual bool AcceptFilter(TFilter*) { return true; }

  ULONG_PTR GetFilterCount() const { return m_cFilters; }
  // The filter at a position, or null: beyond the count, or removed.
  TFilter* GetFilter(ULONG_PTR position) const { return position < m_cFilters ? m_apFilters[position].get() : NULL; }

 private:
  // Constructs a filter for the record's path in zero-filled storage and gives it the
  // record's friendly name; empty when it cannot be made.
  static KsRef<TFilter> MakeFilter(const DeviceRecord* pRecord) {
    void* pStorage = ::operator new(sizeof(TFilter), std::nothrow);
    if (pStorage == NULL) return KsRef<TFilter>();
    std::memset(pStorage, 0, sizeof(TFilter));
    HRESULT hr = S_OK;
    KsRef<TFilter> filter(new (pStorage) TFilter(pRecord->m_szPath, &hr));
    if (FAILED(hr)) return KsRef<TFilter>();
    const size_t cchMax = sizeof(filter->m_szFriendlyName) - 1;
    size_t cch = strnlen(pRecord->m_szFriendlyName, cchMax);
    std::memcpy(filter->m_szFriendlyName, pRecord->m_szFriendlyName, cch);
    filter->m_szFriendlyName[cch] = '\0';
    return filter;
  }

  KsRef<TFilter> m_apFilters[kMaxDevices];  // one reference each
  ULONG_PTR m_cFilters;
  DeviceRecord* m_apFilterRecords[kMaxDevices];  // not owned: the base owns the records
  ULONG_PTR m_cFilterRecords;
};
