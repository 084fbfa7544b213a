// Files on device interfaces and overlapped device I/O: CreateFileA, DeviceIoControl,
// CancelIo, GetOverlappedResult, and the table of pending requests with its timer.
#include <algorithm>
#include <list>
#include <thread>

#include "ks_driver/ks_driver.h"
#include "winsim/control_ks.h"
#include "kernel32/kernel_objects.h"
#include "runtime/fault_injection.h"

namespace winsim::detail {
namespace {

struct PendingTable {
  std::list<PendingIo> requests;
  uint64_t nextId = 1;
};

PendingTable& Pending() {
  static PendingTable table;
  return table;
}

// Completes delayed requests when they fall due. One thread, joined at Reset and at exit. It
// sleeps on a condition of its own, woken only when a request gains a due time: on the shared
// one, every event set anywhere would wake it to scan the pending requests under the lock.
class DelayTimer {
 public:
  ~DelayTimer() { Stop(); }

  // Starts the thread if need be and has it look at the due times again.
  void Wake() {
    {
      std::lock_guard guard(m_control);
      if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
    }
    m_wake.notify_all();
  }

  void Stop() {
    std::lock_guard guard(m_control);
    if (!m_thread.joinable()) return;
    {
      std::lock_guard lock(Lock());
      m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_stop = false;
  }

 private:
  void Run() {
    std::unique_lock lock(Lock());
    while (!m_stop) {
      auto now = std::chrono::steady_clock::now();
      std::optional<std::chrono::steady_clock::time_point> next;
      std::vector<EventRef> events;
      for (auto it = Pending().requests.begin(); it != Pending().requests.end();) {
        PendingIo& io = *it++;
        if (!io.due) continue;
        if (*io.due <= now) {
          events.push_back(CompleteLocked(io.id, StatusFromError(io.answer->error), io.answer->bytes));
        } else if (!next || *io.due < *next) {
          next = io.due;
        }
      }
      if (!events.empty()) {
        lock.unlock();
        SignalEvents(events);
        lock.lock();
        continue;
      }
      if (next) {
        m_wake.wait_until(lock, *next);
      } else {
        m_wake.wait(lock);
      }
    }
  }

  std::mutex m_control;
  std::condition_variable m_wake;  // waited on with Lock()
  std::thread m_thread;
  bool m_stop = false;  // guarded by Lock()
};

DelayTimer& Timer() {
  static DelayTimer timer;
  return timer;
}

ResetRegistration resetPending([] {
  Timer().Stop();
  std::lock_guard guard(Lock());
  // The callers' OVERLAPPEDs may be gone by now: pending requests are dropped untouched. They
  // stay referenced, as a driver that never completes them still holds them: memory a caller
  // deliberately left allocated for such a request is not reported as leaked.
  static auto* abandoned = new std::list<PendingIo>;
  abandoned->splice(abandoned->end(), Pending().requests);
});

int RequestCancellation(const std::function<bool(const PendingIo&)>& which);

// A thread's requests are cancelled when it ends (any thread that issued one). As on Windows,
// the thread is over only once the cancellations the driver honours have completed.
struct ThreadExitRegistration {
  ThreadExitRegistration() {
    OnThreadExit([](DWORD threadId) {
      auto ofThread = [threadId](const PendingIo& io) { return io.thread == threadId; };
      if (RequestCancellation(ofThread) == 0) return;
      std::unique_lock lock(Lock());
      StateChanged().wait(lock, [&] {
        return std::none_of(Pending().requests.begin(), Pending().requests.end(),
                            [&](const PendingIo& io) { return ofThread(io) && io.cancelled; });
      });
    });
  }
} threadExitRegistration;

struct StatusMapping {
  DWORD error;
  ULONG_PTR status;
};

const StatusMapping kStatusMappings[] = {
    {ERROR_SUCCESS, 0},
    {ERROR_MORE_DATA, 0x80000005},
    {ERROR_OPERATION_ABORTED, 0xC0000120},
    {ERROR_DEVICE_NOT_CONNECTED, 0xC000009D},
    {ERROR_INSUFFICIENT_BUFFER, 0xC0000023},
    {ERROR_NOT_FOUND, 0xC0000225},
    {ERROR_INVALID_PARAMETER, 0xC000000D},
    {kErrorInvalidFunction, 0xC0000010},
    {kErrorBadCommand, 0xC0000184},
    {ERROR_GEN_FAILURE, 0xC0000001},
};

void QueuePending(const std::shared_ptr<DeviceFile>& file, const IoRequest& request,
                  std::optional<IoAnswer> answer, std::optional<DWORD> delayMs) {
  // Looked up before the lock is taken: LookupHandle takes it itself.
  EventRef eventObject = LookupHandle(request.overlapped->hEvent);
  {
    std::lock_guard guard(Lock());
    PendingIo io;
    io.id = Pending().nextId++;
    io.file = file;
    io.request = request;
    io.event = eventObject;
    io.thread = GetCurrentThreadId();
    io.key = file->Describe(request);
    io.answer = answer;
    if (delayMs) io.due = std::chrono::steady_clock::now() + std::chrono::milliseconds(*delayMs);
    request.overlapped->Internal = kStatusPending;
    Pending().requests.push_back(std::move(io));
  }
  if (delayMs) Timer().Wake();
}

// NTSTATUS severity: only errors (0xC...) leave a request unfinished; warnings (0x8...) complete it.
bool IsError(ULONG_PTR status) { return (status & 0xC0000000) == 0xC0000000; }

// A request the device answered at once. As on Windows, an error status leaves the byte count,
// the OVERLAPPED (still STATUS_PENDING) and its event as they were; success and warnings
// (ERROR_MORE_DATA) write the count, complete the OVERLAPPED and signal its event.
BOOL FinishNow(const IoRequest& request, const IoAnswer& answer, LPDWORD bytesReturned) {
  ULONG_PTR status = StatusFromError(answer.error);
  if (!IsError(status)) {
    request.overlapped->Internal = status;
    request.overlapped->InternalHigh = answer.bytes;
    if (bytesReturned) *bytesReturned = answer.bytes;
    if (request.overlapped->hEvent) SetEventState(request.overlapped->hEvent, true);
  }
  if (status != kStatusSuccess) {
    SetLastError(answer.error);
    return FALSE;
  }
  return TRUE;
}

// The driver is asked to cancel the requests `which` selects: each completes a moment later
// with STATUS_CANCELLED, on the driver's schedule, unless a test made the driver ignore it.
// Returns how many requests were asked.
int RequestCancellation(const std::function<bool(const PendingIo&)>& which) {
  std::vector<std::pair<uint64_t, RequestKey>> asked;
  {
    std::lock_guard guard(Lock());
    for (const PendingIo& io : Pending().requests)
      if (which(io)) asked.emplace_back(io.id, io.key);
  }
  std::vector<uint64_t> honoured;
  for (const auto& [id, key] : asked)
    if (!ConsumeIgnoredCancel(key)) honoured.push_back(id);
  if (honoured.empty()) return static_cast<int>(asked.size());
  {
    std::lock_guard guard(Lock());
    auto now = std::chrono::steady_clock::now();
    for (PendingIo& io : Pending().requests) {
      if (std::find(honoured.begin(), honoured.end(), io.id) == honoured.end()) continue;
      io.answer = IoAnswer{false, ERROR_OPERATION_ABORTED, 0};
      io.due = now;
      io.cancelled = true;
    }
  }
  Timer().Wake();
  return static_cast<int>(asked.size());
}

// Asks for cancellation of the handle's requests that `which` selects. Returns how many,
// or -1 (ERROR_INVALID_HANDLE) when the handle names no file.
int CancelMatching(HANDLE hFile, const std::function<bool(const PendingIo&)>& which) {
  auto file = LookupAs<DeviceFile>(hFile);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return RequestCancellation([&](const PendingIo& io) { return io.file == file && which(io); });
}

// A handle opened without FILE_FLAG_OVERLAPPED (or a call without an OVERLAPPED) is
// synchronous: the call returns only when the request has completed.
void WaitUntilComplete(const OVERLAPPED* overlapped) {
  std::unique_lock lock(Lock());
  StateChanged().wait(lock, [overlapped] { return overlapped->Internal != kStatusPending; });
}

// An interface path names a symbolic link; when it is absent and a reference string follows
// it, Windows reports the path, not the file, as missing.
DWORD AbsentFileError(LPCSTR path) {
  if (path == nullptr) return ERROR_PATH_NOT_FOUND;
  std::string name = path;
  if (name.rfind("\\\\?\\", 0) == 0) name.erase(0, 4);
  return name.find('\\') == std::string::npos ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

BOOL ReportCompletion(const OVERLAPPED& overlapped, LPDWORD bytes) {
  ULONG_PTR status;
  ULONG_PTR transferred;
  {
    std::lock_guard guard(Lock());
    status = overlapped.Internal;
    transferred = overlapped.InternalHigh;
  }
  if (!IsError(status) && bytes) *bytes = static_cast<DWORD>(transferred);
  if (status == kStatusSuccess) return TRUE;
  SetLastError(ErrorFromStatus(status));
  return FALSE;
}

}  // namespace

const std::list<PendingIo>& PendingRequestsLocked() { return Pending().requests; }

ULONG_PTR StatusFromError(DWORD error) {
  for (const StatusMapping& mapping : kStatusMappings)
    if (mapping.error == error) return mapping.status;
  return 0xC0000001;
}

DWORD ErrorFromStatus(ULONG_PTR status) {
  for (const StatusMapping& mapping : kStatusMappings)
    if (mapping.status == status) return mapping.error;
  return ERROR_GEN_FAILURE;
}

EventRef CompleteLocked(uint64_t id, ULONG_PTR status, ULONG_PTR bytes) {
  auto& requests = Pending().requests;
  auto found = std::find_if(requests.begin(), requests.end(), [id](const PendingIo& io) { return io.id == id; });
  if (found == requests.end()) return {};
  found->request.overlapped->InternalHigh = bytes;
  found->request.overlapped->Internal = status;
  EventRef event = found->event;
  requests.erase(found);
  return event;
}

PendingIo* OldestQueuedLocked(const DeviceFile* file, DWORD code) {
  for (PendingIo& io : Pending().requests)
    if (io.file.get() == file && io.request.code == code && !io.answer) return &io;
  return nullptr;
}

size_t CountQueuedLocked(const DeviceFile* file, DWORD code) {
  return std::count_if(Pending().requests.begin(), Pending().requests.end(), [&](const PendingIo& io) {
    return io.file.get() == file && io.request.code == code && !io.answer;
  });
}

std::vector<EventRef> EndPendingLocked(const std::function<bool(const PendingIo&)>& which, ULONG_PTR status) {
  std::vector<uint64_t> ids;
  for (const PendingIo& io : Pending().requests)
    if (which(io)) ids.push_back(io.id);
  std::vector<detail::EventRef> events;
  for (uint64_t id : ids) events.push_back(CompleteLocked(id, status, 0));
  return events;
}

void SignalEvents(const std::vector<EventRef>& events) {
  for (const EventRef& event : events)
    if (event) SetEventObject(*event);
  // Synchronous callers wait on the OVERLAPPED itself, which may have no event.
  if (!events.empty()) StateChanged().notify_all();
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD dwFlagsAndAttributes,
                          HANDLE) {
  DWORD error = 0;
  if (ConsumeFault("CreateFileA", &error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  // Only device interfaces exist as files on the simulated machine.
  auto record = lpFileName ? FindInterface(lpFileName) : nullptr;
  std::shared_ptr<DeviceFile> file = record ? OpenFilterFile(record) : nullptr;
  if (!file) {
    SetLastError(AbsentFileError(lpFileName));
    return INVALID_HANDLE_VALUE;
  }
  file->overlapped = (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
  return InsertHandle(file);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped) {
  if (FailsByFault("DeviceIoControl")) return FALSE;
  auto file = LookupAs<DeviceFile>(hDevice);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  OVERLAPPED local{};
  bool synchronous = !file->overlapped || lpOverlapped == nullptr;
  OVERLAPPED* overlapped = lpOverlapped ? lpOverlapped : &local;
  // As on Windows, the request's event is reset when the request starts: a signal given
  // before the call is lost.
  if (overlapped->hEvent) SetEventState(overlapped->hEvent, false);
  overlapped->Internal = kStatusPending;
  IoRequest request{dwIoControlCode, static_cast<BYTE*>(lpInBuffer), nInBufferSize,
                    static_cast<BYTE*>(lpOutBuffer), nOutBufferSize, overlapped};
  std::optional<RequestFault> fault = ConsumeRequestFault(file->Describe(request));
  if (fault && fault->action == FaultAction::Fail) return FinishNow(request, IoAnswer{false, fault->value, 0}, lpBytesReturned);

  IoAnswer answer = file->Ioctl(request);
  if (fault && !answer.pending) {
    QueuePending(file, request, answer,
                 fault->action == FaultAction::Delay ? std::optional<DWORD>(fault->value) : std::nullopt);
  } else if (answer.pending) {
    QueuePending(file, request, std::nullopt, std::nullopt);
    file->AfterQueued();
  } else {
    return FinishNow(request, answer, lpBytesReturned);
  }
  if (synchronous) {
    WaitUntilComplete(overlapped);
    return ReportCompletion(*overlapped, lpBytesReturned);
  }
  // Windows copies the OVERLAPPED's current InternalHigh, which the request may not have
  // written yet (read under the lock: the request may complete on another thread meanwhile).
  if (lpBytesReturned) {
    std::lock_guard guard(Lock());
    *lpBytesReturned = static_cast<DWORD>(overlapped->InternalHigh);
  }
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

BOOL WINAPI CancelIo(HANDLE hFile) {
  if (FailsByFault("CancelIo")) return FALSE;
  DWORD thread = GetCurrentThreadId();
  // Only the calling thread's requests on the handle; they complete later.
  return CancelMatching(hFile, [thread](const PendingIo& io) { return io.thread == thread; }) >= 0 ? TRUE : FALSE;
}

BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped) {
  if (FailsByFault("CancelIoEx")) return FALSE;
  // Any thread's requests: all of the handle's, or the one of that OVERLAPPED.
  int cancelled = CancelMatching(
      hFile, [lpOverlapped](const PendingIo& io) { return lpOverlapped == nullptr || io.request.overlapped == lpOverlapped; });
  if (cancelled == 0) SetLastError(ERROR_NOT_FOUND);
  return cancelled > 0 ? TRUE : FALSE;
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait) {
  if (FailsByFault("GetOverlappedResult")) return FALSE;
  if (lpOverlapped == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONG_PTR status;
  {
    std::lock_guard guard(Lock());
    status = lpOverlapped->Internal;
  }
  if (status == kStatusPending) {
    if (!bWait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    // Without an event Windows waits on the file handle itself.
    if (lpOverlapped->hEvent) {
      if (WaitForObject(lpOverlapped->hEvent, INFINITE) != WAIT_OBJECT_0) return FALSE;
    } else if (!LookupAs<DeviceFile>(hFile)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    } else {
      WaitUntilComplete(lpOverlapped);
    }
  }
  {
    std::lock_guard guard(Lock());
    status = lpOverlapped->Internal;
    *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
  }
  if (status == kStatusSuccess) return TRUE;
  SetLastError(ErrorFromStatus(status));
  return FALSE;
}

}  // extern "C"

