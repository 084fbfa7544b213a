// Files and overlapped device I/O shared by the file layer and the kernel-streaming driver.
#pragma once

#include <chrono>
#include <list>
#include <optional>

#include "machine/devices.h"
#include "runtime/handle_table.h"
#include "runtime/reset.h"
#include "winsim/control_ks.h"

namespace winsim::detail {

// Win32 errors the driver answers with that the public headers do not name.
constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorBadCommand = 22;
constexpr DWORD kErrorNoMatch = 1169;

// NTSTATUS values kept in OVERLAPPED.Internal.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
ULONG_PTR StatusFromError(DWORD error);
DWORD ErrorFromStatus(ULONG_PTR status);

// One DeviceIoControl call, with the caller's buffers.
struct IoRequest {
  DWORD code = 0;
  BYTE* in = nullptr;
  DWORD inSize = 0;
  BYTE* out = nullptr;
  DWORD outSize = 0;
  OVERLAPPED* overlapped = nullptr;
};

// What a device answers: done now (error 0 = success) or queued until the device completes it.
struct IoAnswer {
  bool pending = false;
  DWORD error = 0;
  DWORD bytes = 0;
};

// What request faults are matched against.
struct RequestKey {
  std::string path;  // lower case
  DWORD code = 0;
  std::optional<GUID> set;
  std::optional<ULONG> id;
  std::optional<ULONG> pinId;
};

// An open file on a device interface: a filter or a pin.
struct DeviceFile : KernelObject {
  std::shared_ptr<InterfaceRecord> record;
  // Opened with FILE_FLAG_OVERLAPPED; requests on other handles complete inside the call.
  bool overlapped = true;
  // Called without the lock.
  virtual IoAnswer Ioctl(IoRequest& request) = 0;
  // Called without the lock once a pending answer has been queued.
  virtual void AfterQueued() {}
  virtual RequestKey Describe(const IoRequest& request) const = 0;
};

enum class FaultAction { Fail, Hold, Delay, IgnoreCancel };
struct RequestFault {
  FaultAction action;
  DWORD value;  // the error for Fail, the milliseconds for Delay
};
std::optional<RequestFault> ConsumeRequestFault(const RequestKey& key);
// True when the driver is to ignore a cancellation of a request with this key.
bool ConsumeIgnoredCancel(const RequestKey& key);

// A request holds its event object, not the handle value: the caller may close the handle
// (and the value be handed out again) while the request is pending, as on Windows.
using EventRef = std::shared_ptr<KernelObject>;

// Pending requests, guarded by Lock().
struct PendingIo {
  uint64_t id = 0;
  std::shared_ptr<DeviceFile> file;
  IoRequest request;
  EventRef event;
  DWORD thread = 0;
  RequestKey key;
  // A held or delayed request carries the answer it completes with.
  std::optional<IoAnswer> answer;
  std::optional<std::chrono::steady_clock::time_point> due;
  bool cancelled = false;  // the driver took a cancellation and completes it when due
};

// Every pending request, oldest first. Lock held.
const std::list<PendingIo>& PendingRequestsLocked();
// Completes a pending request (writes the OVERLAPPED) and returns its event, which the
// caller signals once it has released the lock.
EventRef CompleteLocked(uint64_t id, ULONG_PTR status, ULONG_PTR bytes);
// The oldest request of `file` with this code that the device itself queued.
PendingIo* OldestQueuedLocked(const DeviceFile* file, DWORD code);
size_t CountQueuedLocked(const DeviceFile* file, DWORD code);
// Ends every pending request selected by `which` with the status; returns the events to signal.
std::vector<EventRef> EndPendingLocked(const std::function<bool(const PendingIo&)>& which, ULONG_PTR status);
void SignalEvents(const std::vector<EventRef>& events);

}  // namespace winsim::detail
