// Events, threads, waits, sleep and the per-thread last error.
#include <atomic>
#include <chrono>
#include <thread>

#include "kernel32/kernel_objects.h"
#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "runtime/reset.h"
#include "winsim/control.h"

namespace winsim::detail {
namespace {

thread_local DWORD t_lastError = 0;
thread_local DWORD t_threadId = 0;
thread_local unsigned t_sleepCalls = 0;
std::atomic<DWORD> g_nextThreadId{1000};

// Every thread that has an id (it made a call that needs one, such as issuing I/O) has its
// pending requests cancelled when it ends, also threads not made by CreateThread.
struct ThreadExitGuard {
  bool armed = false;
  ~ThreadExitGuard() {
    if (armed) RunThreadExitHooks(t_threadId);
  }
};
thread_local ThreadExitGuard t_exitGuard;

struct Event : KernelObject {
  Event(bool manual, bool initial) : manualReset(manual), signaled(initial) {}
  bool Waitable() const override { return true; }
  bool Signaled() const override { return signaled; }
  void Consume() override {
    if (!manualReset) signaled = false;
  }
  const bool manualReset;
  bool signaled;  // guarded by Lock()
};

struct Thread : KernelObject {
  bool Waitable() const override { return true; }
  bool Signaled() const override { return finished; }
  bool finished = false;            // guarded by Lock()
  DWORD exitCode = STILL_ACTIVE;    // guarded by Lock()
  DWORD id = 0;
};

void PutEventState(Event& event, bool state) {
  bool wake = false;
  {
    std::lock_guard guard(Lock());
    event.signaled = state;
    wake = state && event.waiters > 0;
  }
  if (wake) StateChanged().notify_all();
}

}  // namespace

void SetEventObject(KernelObject& object) {
  auto* event = dynamic_cast<Event*>(&object);
  if (event != nullptr) PutEventState(*event, true);
}

BOOL SetEventState(HANDLE hEvent, bool state) {
  auto event = LookupAs<Event>(hEvent);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  PutEventState(*event, state);
  return TRUE;
}

DWORD WaitForObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto object = LookupHandle(hHandle);
  if (!object || !object->Waitable()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock guard(Lock());
  WaitingOn waiting(&object, 1);
  auto ready = [&] { return object->Signaled(); };
  if (dwMilliseconds == INFINITE) {
    StateChanged().wait(guard, ready);
  } else if (!StateChanged().wait_for(guard, std::chrono::milliseconds(dwMilliseconds), ready)) {
    return WAIT_TIMEOUT;
  }
  object->Consume();
  return WAIT_OBJECT_0;
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

DWORD WINAPI GetCurrentThreadId(void) {
  if (t_threadId == 0) {
    t_threadId = g_nextThreadId.fetch_add(1);
    t_exitGuard.armed = true;
  }
  return t_threadId;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR) {
  DWORD error = 0;
  if (ConsumeFault("CreateEventA", &error)) {
    SetLastError(error);
    return nullptr;
  }
  return InsertHandle(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  if (FailsByFault("SetEvent")) return FALSE;
  return SetEventState(hEvent, true);
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  if (FailsByFault("ResetEvent")) return FALSE;
  return SetEventState(hEvent, false);
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (FailsByFault("CloseHandle")) return FALSE;
  auto object = LookupHandle(hObject);
  if (!object || !object->ClosableByCloseHandle()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  RemoveHandle(hObject);
  object->OnLastHandleClosed();
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  DWORD error = 0;
  if (ConsumeFault("WaitForSingleObject", &error)) {
    SetLastError(error);
    return WAIT_FAILED;
  }
  return WaitForObject(hHandle, dwMilliseconds);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
  CountCall("Sleep");
  ++t_sleepCalls;
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD WINAPI GetTickCount(void) {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD, LPDWORD lpThreadId) {
  DWORD error = 0;
  if (ConsumeFault("CreateThread", &error)) {
    SetLastError(error);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  thread->id = g_nextThreadId.fetch_add(1);
  HANDLE handle = InsertHandle(thread);
  if (lpThreadId) *lpThreadId = thread->id;
  std::thread([thread, lpStartAddress, lpParameter] {
    t_threadId = thread->id;
    DWORD code = lpStartAddress(lpParameter);
    // As on Windows, the exit code is final before the system has cancelled the thread's
    // requests; the thread object is signalled only after that.
    {
      std::lock_guard guard(Lock());
      thread->exitCode = code;
    }
    t_exitGuard.armed = false;
    RunThreadExitHooks(thread->id);
    {
      std::lock_guard guard(Lock());
      thread->finished = true;
    }
    StateChanged().notify_all();
  }).detach();
  return handle;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  if (FailsByFault("GetExitCodeThread")) return FALSE;
  auto thread = LookupAs<Thread>(hThread);
  if (!thread || lpExitCode == nullptr) {
    SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard guard(Lock());
  *lpExitCode = thread->exitCode;
  return TRUE;
}

}  // extern "C"

namespace winsim {

unsigned SleepCallsOnThisThread() { return t_sleepCalls; }

namespace {
detail::ResetRegistration resetSleepCounter([] { t_sleepCalls = 0; });
}

}  // namespace winsim
