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
    while (m_cFilters != 0) {
      // A position cleared by OnDeviceRemoved holds no reference any more.
      if (m_apFilters[m_cFilters - 1] != NULL) DropReference(m_apFilters[m_cFilters - 1]);
      --m_cFilters;
    }
  }

  bool OnDeviceAdded(DeviceRecord* pRecord) override {
    if (m_cFilters >= kMaxDevices) return false;
    TFilter* pFilter = MakeFilter(pRecord);
    if (pFilter == NULL) return false;
    if (FAILED(pFilter->Instantiate()) || FAILED(pFilter->EnumeratePins()) || !AcceptFilter(pFilter)) {
      delete pFilter;  // only the construction reference exists
      return false;
    }
    // The construction reference becomes the list's.
    m_apFilters[m_cFilters++] = pFilter;
    m_apFilterRecords[m_cFilterRecords++] = pRecord;
    return true;
  }

  void OnDeviceRemoved(DeviceRecord* pRecord) override {
    for (ULONG_PTR i = 0; i < m_cFilters; ++i) {
      if (m_apFilterRecords[i] != pRecord || m_apFilters[i] == NULL) continue;
      m_apFilters[i]->Close();
      DropReference(m_apFilters[i]);
      m_apFilters[i] = NULL;
      m_apFilterRecords[i] = NULL;
    }
  }

  virtual bool AcceptFilter(TFilter*) { return true; }

  ULONG_PTR GetFilterCount() const { return m_cFilters; }
  // The filter at a position, or null: beyond the count, or removed.
  TFilter* GetFilter(ULONG_PTR position) const { return position < m_cFilters ? m_apFilters[position] : NULL; }

 private:
  // Constructs a filter for the record's path in zero-filled storage and gives it the
  // record's friendly name; null when it cannot be made.
  static TFilter* MakeFilter(const DeviceRecord* pRecord) {
    void* pStorage = ::operator new(sizeof(TFilter), std::nothrow);
    if (pStorage == NULL) return NULL;
    std::memset(pStorage, 0, sizeof(TFilter));
    HRESULT hr = S_OK;
    TFilter* pFilter = new (pStorage) TFilter(pRecord->m_szPath, &hr);
    if (FAILED(hr)) {
      delete pFilter;
      return NULL;
    }
    const size_t cchMax = sizeof(pFilter->m_szFriendlyName) - 1;
    size_t cch = strnlen(pRecord->m_szFriendlyName, cchMax);
    std::memcpy(pFilter->m_szFriendlyName, pRecord->m_szFriendlyName, cch);
    pFilter->m_szFriendlyName[cch] = '\0';
    return pFilter;
  }

  TFilter* m_apFilters[kMaxDevices];
  ULONG_PTR m_cFilters;
  DeviceRecord* m_apFilterRecords[kMaxDevices];  // not owned: the base owns the records
  ULONG_PTR m_cFilterRecords;
};
