// Device discovery: the present interfaces of one device-interface class, each offered to
// OnDeviceAdded as a record of its path and friendly name. There is no lasting list: every
// client operation that needs the devices builds one, enumerates once, reads, and destroys it.
#pragma once

#include <memory>

#include "platform/win32.h"

// One examined interface that was accepted; owned by the CDeviceList that made it.
struct DeviceRecord {
  CHAR m_szPath[MAX_PATH];
  CHAR m_szFriendlyName[MAX_PATH];  // empty when the interface key has none
};

class CDeviceList {
 public:
  // One enumeration lists at most this many devices.
  static const ULONG_PTR kMaxDevices = 32;

  explicit CDeviceList(REFGUID guidCategory);
  CDeviceList(const CDeviceList&) = delete;
  CDeviceList& operator=(const CDeviceList&) = delete;

  // Fills the list; called once per list.
  void Enumerate();

  virtual bool OnDeviceAdded(DeviceRecord* pRecord);  // accepts every record
  virtual void OnDeviceRemoved(DeviceRecord* pRecord);

 protected:
  GUID m_guidCategory;
  std::unique_ptr<DeviceRecord> m_apRecords[kMaxDevices];  // they go with the list
  ULONG_PTR m_cRecords;

 private:
  void OfferInterface(LPCSTR pszPath);
  bool IsKnownPath(LPCSTR pszPath) const;
};

// Makes a record for an interface path with the "FriendlyName" value of the interface's
// registry key; empty for a path of MAX_PATH characters or more, or when out of memory.
std::unique_ptr<DeviceRecord> MakeDeviceRecord(LPCSTR pszPath);
