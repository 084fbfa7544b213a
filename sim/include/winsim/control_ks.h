// Control API of the simulated kernel-streaming driver: what tests and the sample host use to
// feed MIDI to a device, read what was written to it, watch its pins and make its requests
// misbehave. Not part of Windows. Interface paths compare without regard to case.
//
// Faults of other kinds go through the core control API (winsim/control.h):
//   FailCall("KsCreatePin", error)                  KsCreatePin returns `error`
//   UnregisterModule("ksuser.dll")                  ksuser.dll cannot be loaded (until Reset)
//   RemoveModuleProc("ksuser.dll", "KsCreatePin")   ksuser.dll has no KsCreatePin (until Reset)
//   FailCall("CreateFileA" / "CreateEventA", error), FailAllocations(...)
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "winsim/sdk.h"

namespace winsim {

// The device receives MIDI bytes: they are handed to its running capture pins' pending reads,
// at most (FrameExtent - 8) bytes per read, one KSMUSICFORMAT event each. Bytes no running pin
// reads wait until one does (or the device leaves).
void ReceiveMidi(const std::string& interfacePath, const std::vector<BYTE>& bytes);

// Completes the oldest read queued on the interface as a careless driver might: `frame` is
// copied to the read's data buffer (at most FrameExtent bytes), DataUsed and the byte count
// are set as given, and the request ends with the status of `error`: ERROR_MORE_DATA ends it
// with the warning STATUS_BUFFER_OVERFLOW, which, like success, keeps the byte count and
// signals the event, while GetOverlappedResult reports ERROR_MORE_DATA. False when no read
// was queued.
bool CompleteReadRaw(const std::string& interfacePath, const std::vector<BYTE>& frame, ULONG dataUsed,
                     ULONG_PTR bytesReturned, DWORD error = ERROR_SUCCESS);

// One IOCTL_KS_WRITE_STREAM request as the driver took it.
struct CapturedWrite {
  ULONG pinId = 0;                 // pin factory of the pin written to
  KSSTREAM_HEADER header{};        // copy of the stream header
  HANDLE event = nullptr;          // the OVERLAPPED's hEvent, tag bits included
  ULONG timeDeltaMs = 0;           // of the KSMUSICFORMAT at the start of the data
  ULONG byteCount = 0;
  std::vector<BYTE> bytes;         // the byteCount MIDI bytes after the KSMUSICFORMAT
};
std::vector<CapturedWrite> CapturedWrites(const std::string& interfacePath);
// Forgets the writes captured so far, so that a host streaming for long does not grow them.
void ClearCapturedWrites(const std::string& interfacePath);
// The writes captured so far, forgotten in the same step: a test that checks gigabytes as they
// stream takes them in pieces, and none is seen twice or missed.
std::vector<CapturedWrite> TakeCapturedWrites(const std::string& interfacePath);

// Every kernel pin made on an interface, in creation order, closed ones included.
struct PinInstance {
  ULONG pinId = 0;
  bool open = true;
  KSSTATE state = KSSTATE_STOP;
  std::vector<KSSTATE> stateRequests;  // every KSPROPERTY_CONNECTION_STATE set received
  KSPIN_CONNECT connect{};             // the connection request
  KSDATAFORMAT format{};               // the data format that followed it
  size_t pendingReads = 0;
};
std::vector<PinInstance> PinInstances(const std::string& interfacePath);

// Opens and closes of an interface's filter handles and pin handles since the last Reset.
struct OpenCounts {
  int filterOpens = 0;
  int filterCloses = 0;
  int pinOpens = 0;
  int pinCloses = 0;
};
OpenCounts InterfaceOpenCounts(const std::string& interfacePath);

// Which requests a fault applies to; an empty or unset field matches anything.
struct RequestMatch {
  RequestMatch(std::string path = {}, DWORD code = 0, std::optional<GUID> set = std::nullopt,
               std::optional<ULONG> id = std::nullopt, std::optional<ULONG> pin = std::nullopt)
      : interfacePath(std::move(path)), ioctl(code), propertySet(set), propertyId(id), pinId(pin) {}
  std::string interfacePath;
  DWORD ioctl = 0;                 // IOCTL_KS_PROPERTY, IOCTL_KS_READ_STREAM, ...
  std::optional<GUID> propertySet;
  std::optional<ULONG> propertyId;
  std::optional<ULONG> pinId;      // KSP_PIN's PinId on a filter, the pin factory on a pin handle
};
// Matching requests fail at once with `error`, without reaching the driver, `times` times
// (-1: always) after letting `skip` of them pass.
void FailRequests(const RequestMatch& match, DWORD error, int times = -1, int skip = 0);
// Matching requests are answered, but stay pending until ReleaseHeldRequests: never, if the
// test does not release them (unplug, CancelIo, closing the handle and Reset still end them).
void HoldRequests(const RequestMatch& match, int times = -1);
// Matching requests are answered, but complete only `milliseconds` later.
void DelayRequests(const RequestMatch& match, DWORD milliseconds, int times = -1);
// The driver ignores the cancellation (CancelIo, CancelIoEx, the end of the issuing thread) of
// matching pending requests, `times` times: they stay pending. Cancellations it honours
// complete a moment after the cancelling call has returned, with ERROR_OPERATION_ABORTED.
void IgnoreCancellation(const RequestMatch& match, int times = -1);
// The driver ends the matching pending requests now with `error` (a driver error mid-stream).
void EndPendingRequests(const RequestMatch& match, DWORD error);
size_t HeldRequestCount();
void ReleaseHeldRequests();
// Requests of every kind that are pending now (held, delayed, queued reads).
size_t PendingRequestCount();

}  // namespace winsim
