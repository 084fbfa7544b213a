// Events, waits, handle tag bits, closing, last error and threads with their exit codes.
#include "probe.h"

namespace {

DWORD WINAPI WaitThenExit(LPVOID parameter) {
  WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
  return 42;
}

DWORD WINAPI SetOwnError(LPVOID) {
  SetLastError(1234);
  return GetLastError();
}

HANDLE Tagged(HANDLE handle, UINT_PTR bits) { return reinterpret_cast<HANDLE>(reinterpret_cast<UINT_PTR>(handle) | bits); }

}  // namespace

int main() {
  HANDLE manual = CreateEventA(NULL, TRUE, FALSE, NULL);
  HANDLE autoReset = CreateEventA(NULL, FALSE, TRUE, NULL);
  probe::Value("manual not signalled: wait 0", WaitForSingleObject(manual, 0));
  SetEvent(manual);
  probe::Value("manual set: first wait", WaitForSingleObject(manual, 0));
  probe::Value("manual set: second wait", WaitForSingleObject(manual, 0));
  ResetEvent(manual);
  probe::Value("manual reset: wait", WaitForSingleObject(manual, 0));
  probe::Value("auto initially set: first wait", WaitForSingleObject(autoReset, 0));
  probe::Value("auto initially set: second wait", WaitForSingleObject(autoReset, 0));
  probe::Value("wait with timeout 10 on unsignalled", WaitForSingleObject(autoReset, 10));

  // The two low bits of a handle value are not part of the handle.
  for (UINT_PTR bits = 1; bits <= 3; ++bits) {
    SetLastError(probe::kUnset);
    probe::Result(bits == 1 ? "SetEvent tag 1" : bits == 2 ? "SetEvent tag 2" : "SetEvent tag 3",
                  SetEvent(Tagged(autoReset, bits)));
    probe::Value("  then wait untagged", WaitForSingleObject(autoReset, 0));
  }

  SetLastError(probe::kUnset);
  probe::Result("CloseHandle", CloseHandle(manual));
  SetLastError(probe::kUnset);
  probe::Result("CloseHandle again", CloseHandle(manual));
  SetLastError(probe::kUnset);
  probe::Result("wait on closed handle", WaitForSingleObject(manual, 0));
  SetLastError(probe::kUnset);
  probe::Result("SetEvent on closed handle", SetEvent(manual));
  // A freed handle value is handed out again.
  HANDLE next = CreateEventA(NULL, FALSE, FALSE, NULL);
  probe::Flag("next event reuses the closed value", next == manual);
  CloseHandle(next);

  HANDLE release = CreateEventA(NULL, TRUE, FALSE, NULL);
  DWORD id = 0;
  HANDLE thread = CreateThread(NULL, 0, WaitThenExit, release, 0, &id);
  probe::Flag("thread id set", id != 0);
  DWORD code = 0;
  SetLastError(probe::kUnset);
  probe::Result("GetExitCodeThread while running", GetExitCodeThread(thread, &code));
  probe::Value("  code", code);
  probe::Value("wait 0 on running thread", WaitForSingleObject(thread, 0));
  SetEvent(release);
  probe::Value("wait on ending thread", WaitForSingleObject(thread, 5000));
  GetExitCodeThread(thread, &code);
  probe::Value("exit code after end", code);
  probe::Value("wait on ended thread again", WaitForSingleObject(thread, 0));
  CloseHandle(thread);
  CloseHandle(release);

  SetLastError(77);
  HANDLE other = CreateThread(NULL, 0, SetOwnError, NULL, 0, NULL);
  WaitForSingleObject(other, 5000);
  GetExitCodeThread(other, &code);
  probe::Value("other thread's last error", code);
  probe::Value("this thread's last error kept", GetLastError());
  CloseHandle(other);
  SetLastError(probe::kUnset);
  probe::Result("GetExitCodeThread on closed handle", GetExitCodeThread(other, &code));
  CloseHandle(autoReset);
  return 0;
}
