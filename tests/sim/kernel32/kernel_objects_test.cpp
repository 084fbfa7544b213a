// The simulated kernel objects behave as Windows documents them.
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/machine.h"

namespace {

HANDLE Tagged(HANDLE handle, uintptr_t bits) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(handle) | bits);
}

struct WaitArgs {
  HANDLE event;
  std::atomic<int>* woken;
};

DWORD WINAPI WaitOnce(LPVOID parameter) {
  auto* args = static_cast<WaitArgs*>(parameter);
  if (WaitForSingleObject(args->event, 5000) == WAIT_OBJECT_0) args->woken->fetch_add(1);
  return 0;
}

DWORD WINAPI WaitForRelease(LPVOID parameter) {
  WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
  return 42;
}

DWORD WINAPI SetOwnLastError(LPVOID parameter) {
  SetLastError(ERROR_ACCESS_DENIED);
  *static_cast<DWORD*>(parameter) = GetLastError();
  return 0;
}

void WaitForThread(HANDLE thread) { REQUIRE(WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0); }

}  // namespace

TEST_CASE("events wake waiters by their reset kind") {
  testing::Machine machine;
  struct Case {
    BOOL manualReset;
    int wokenAfterOneSet;
  };
  for (Case c : {Case{FALSE, 1}, Case{TRUE, 2}}) {
    CAPTURE(c.manualReset);
    HANDLE event = CreateEventA(nullptr, c.manualReset, FALSE, nullptr);
    std::atomic<int> woken{0};
    WaitArgs args{event, &woken};
    HANDLE threads[2] = {CreateThread(nullptr, 0, WaitOnce, &args, 0, nullptr),
                         CreateThread(nullptr, 0, WaitOnce, &args, 0, nullptr)};
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // both threads waiting
    CHECK(woken == 0);
    SetEvent(event);
    CHECK(testing::WaitUntil([&] { return woken >= c.wokenAfterOneSet; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CHECK(woken == c.wokenAfterOneSet);
    SetEvent(event);
    for (HANDLE thread : threads) {
      WaitForThread(thread);
      CloseHandle(thread);
    }
    CHECK(woken == 2);
    CloseHandle(event);
  }
}

TEST_CASE("an initially signalled auto-reset event satisfies exactly one wait") {
  testing::Machine machine;
  HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  CHECK(WaitForSingleObject(event, 0) == WAIT_OBJECT_0);
  CHECK(WaitForSingleObject(event, 0) == WAIT_TIMEOUT);
  auto start = std::chrono::steady_clock::now();
  CHECK(WaitForSingleObject(event, 30) == WAIT_TIMEOUT);
  CHECK(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(30));
  CloseHandle(event);
}

// Setting an event wakes only the threads counted as its waiters: each way of waiting must be
// counted, and a wait that ended (signalled or timed out) must leave the count right.
TEST_CASE("a waiting thread is woken by its object however it waits and whatever waits ended") {
  testing::Machine machine;
  enum Kind { kSingle, kMsgWaitFirst, kMsgWaitSecond, kAfterTimedOutWait, kAfterSatisfiedWait };
  for (Kind kind : {kSingle, kMsgWaitFirst, kMsgWaitSecond, kAfterTimedOutWait, kAfterSatisfiedWait}) {
    CAPTURE(kind);
    HANDLE events[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr), CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    HANDLE target = kind == kMsgWaitSecond ? events[1] : events[0];
    // A wait on the target that is over before the waiter starts.
    if (kind == kAfterTimedOutWait) CHECK(WaitForSingleObject(target, 20) == WAIT_TIMEOUT);
    if (kind == kAfterSatisfiedWait) {
      SetEvent(target);
      CHECK(WaitForSingleObject(target, 0) == WAIT_OBJECT_0);
    }
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] {
      bool msgWait = kind == kMsgWaitFirst || kind == kMsgWaitSecond;
      result = msgWait ? MsgWaitForMultipleObjects(2, events, FALSE, 5000, 0) : WaitForSingleObject(target, 5000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the waiter is waiting
    SetEvent(target);
    waiter.join();
    CHECK(result == (kind == kMsgWaitSecond ? WAIT_OBJECT_0 + 1 : WAIT_OBJECT_0));
    for (HANDLE event : events) CloseHandle(event);
  }
}

TEST_CASE("a thread waiting with a timeout does not strand another waiter on the same event") {
  testing::Machine machine;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<DWORD> longWait{WAIT_FAILED};
  std::thread patient([&] { longWait = WaitForSingleObject(event, 5000); });
  std::thread impatient([&] { CHECK(WaitForSingleObject(event, 20) == WAIT_TIMEOUT); });
  impatient.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  auto start = std::chrono::steady_clock::now();
  SetEvent(event);
  patient.join();
  CHECK(longWait == WAIT_OBJECT_0);
  CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(4));
  CloseHandle(event);
}

TEST_CASE("a thread reports STILL_ACTIVE until it ends, then its exit code") {
  testing::Machine machine;
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, WaitForRelease, release, 0, nullptr);
  DWORD code = 0;
  REQUIRE(GetExitCodeThread(thread, &code));
  CHECK(code == STILL_ACTIVE);
  CHECK(WaitForSingleObject(thread, 0) == WAIT_TIMEOUT);
  SetEvent(release);
  WaitForThread(thread);
  REQUIRE(GetExitCodeThread(thread, &code));
  CHECK(code == 42);
  // A finished thread stays signalled for every later wait.
  CHECK(WaitForSingleObject(thread, 0) == WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(release);
}

TEST_CASE("the two low bits of a handle value are tag bits") {
  testing::Machine machine;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  for (uintptr_t bits : {1u, 2u, 3u}) {
    CAPTURE(bits);
    CHECK(SetEvent(Tagged(event, bits)));
    CHECK(WaitForSingleObject(Tagged(event, bits), 0) == WAIT_OBJECT_0);
    CHECK(ResetEvent(event));
    CHECK(WaitForSingleObject(event, 0) == WAIT_TIMEOUT);
  }
  CHECK(CloseHandle(Tagged(event, 1)));
  CHECK(winsim::LiveHandleCount() == 0);
}

TEST_CASE("bad handles fail with ERROR_INVALID_HANDLE") {
  testing::Machine machine;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  REQUIRE(CloseHandle(event));
  struct Case {
    const char* name;
    HANDLE handle;
  };
  for (Case c : {Case{"closed", event}, Case{"null", nullptr}, Case{"invalid", INVALID_HANDLE_VALUE},
                 Case{"never issued", reinterpret_cast<HANDLE>(0x7FFF0000)}}) {
    CAPTURE(c.name);
    SetLastError(0);
    CHECK(CloseHandle(c.handle) == FALSE);
    CHECK(GetLastError() == ERROR_INVALID_HANDLE);
    CHECK(WaitForSingleObject(c.handle, 0) == WAIT_FAILED);
    CHECK(SetEvent(c.handle) == FALSE);
  }
}

TEST_CASE("the last error is kept per thread") {
  testing::Machine machine;
  SetLastError(ERROR_FILE_NOT_FOUND);
  DWORD seenByThread = 0;
  HANDLE thread = CreateThread(nullptr, 0, SetOwnLastError, &seenByThread, 0, nullptr);
  WaitForThread(thread);
  CloseHandle(thread);
  CHECK(seenByThread == ERROR_ACCESS_DENIED);
  CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
}

TEST_CASE("injected faults fail the named call the given number of times") {
  testing::Machine machine;
  winsim::FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, 2, 1);
  HANDLE first = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CHECK(first != nullptr);
  CHECK(CreateEventA(nullptr, FALSE, FALSE, nullptr) == nullptr);
  CHECK(GetLastError() == ERROR_NOT_ENOUGH_MEMORY);
  CHECK(CreateEventA(nullptr, FALSE, FALSE, nullptr) == nullptr);
  HANDLE fourth = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CHECK(fourth != nullptr);
  CloseHandle(first);
  CloseHandle(fourth);
  // Failed calls are counted too: a sweep learns every injection point from a clean run.
  CHECK(winsim::CallCounts()["CreateEventA"] == 4);
  winsim::ResetCallCounts();
  CHECK(winsim::CallCounts().empty());
}

TEST_CASE("debugger output is captured one write at a time") {
  testing::Machine machine;
  OutputDebugStringA("first");
  OutputDebugStringA("\r\n");
  CHECK(winsim::DebugOutput() == std::vector<std::string>{"first", "\r\n"});
  winsim::ClearDebugOutput();
  CHECK(winsim::DebugOutput().empty());
}

TEST_CASE("a closed handle's value is handed out again, most recently freed first") {
  testing::Machine machine;
  HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(first);
  CloseHandle(second);
  HANDLE reused = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  CHECK(reused == second);
  // Code that still holds the old value now reaches the new object.
  CHECK(WaitForSingleObject(second, 0) == WAIT_OBJECT_0);
  CHECK(CreateEventA(nullptr, TRUE, FALSE, nullptr) == first);
  CloseHandle(reused);
  CloseHandle(first);
}
