// Message queues: posted and sent messages, retrieval, dispatch and waiting for input.
// A message sent from another thread is processed only while the window's owning thread
// retrieves messages (GetMessageA, PeekMessageA) or itself waits in SendMessageA.
#include <chrono>
#include <deque>
#include <map>

#include "user32/window_messages.h"
#include "kernel32/kernel_objects.h"
#include "runtime/fault_injection.h"
#include "runtime/handle_table.h"
#include "runtime/reset.h"
#include "winsim/sdk.h"

namespace winsim::detail {
namespace {

// MsgWaitForMultipleObjects waits on at most MAXIMUM_WAIT_OBJECTS - 1 objects.
const DWORD kMaximumWaitObjects = 64;

struct SentMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::vector<BYTE> payload;  // what lParam points to, when the sender does not wait
  bool done = false;
  LRESULT result = 0;
};

struct MessageQueue {
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
  // QS_ bits of input that arrived since the thread last looked at its queue.
  DWORD newInput = 0;
};

AreaState<std::map<DWORD, MessageQueue>> Queues;

// A thread's queue and its windows go when the thread ends, as on Windows. Every thread that
// gets a queue arms this, whether the simulator or the test started it.
struct QueueOwner {
  DWORD threadId = 0;
  ~QueueOwner();
};
thread_local QueueOwner t_queueOwner;

void CompleteLocked(SentMessage& message, LRESULT result) {
  message.done = true;
  message.result = result;
}

QueueOwner::~QueueOwner() {
  if (threadId == 0) return;
  {
    std::lock_guard guard(Lock());
    auto found = Queues().find(threadId);
    if (found != Queues().end()) {
      for (auto& message : found->second.sent) CompleteLocked(*message, 0);
      Queues().erase(found);
    }
    DiscardWindowsOfThreadLocked(threadId);
  }
  StateChanged().notify_all();
}

MessageQueue& CurrentQueueLocked() {
  EnsureQueueOfCurrentThreadLocked();
  return Queues()[GetCurrentThreadId()];
}

bool InRange(UINT message, UINT first, UINT last) {
  return (first == 0 && last == 0) || (message >= first && message <= last);
}

// NULL takes messages for any window of the thread and thread messages; -1 thread messages only.
bool ForWindow(const MSG& message, HWND filter) {
  if (filter == nullptr) return true;
  if (filter == reinterpret_cast<HWND>(-1)) return message.hwnd == nullptr;
  return message.hwnd == filter;
}

bool ValidFilter(HWND filter) {
  return filter == nullptr || filter == reinterpret_cast<HWND>(-1) || WindowOwner(filter) != 0;
}

// Finds the first posted message that passes the filters; WM_QUIT comes when no other does.
bool TakePostedLocked(MessageQueue& queue, MSG* out, HWND filter, UINT first, UINT last, bool remove) {
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (!ForWindow(*it, filter) || !InRange(it->message, first, last)) continue;
    *out = *it;
    if (remove) queue.posted.erase(it);
    return true;
  }
  if (!queue.quit || !InRange(WM_QUIT, first, last)) return false;
  *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, GetTickCount(), {0, 0}};
  if (remove) queue.quit = false;
  return true;
}

void PostLocked(MessageQueue& queue, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  queue.posted.push_back(MSG{window, message, wParam, lParam, GetTickCount(), {0, 0}});
  queue.newInput |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
}

void QueueSentLocked(DWORD owner, std::shared_ptr<SentMessage> message) {
  MessageQueue& queue = Queues()[owner];
  queue.sent.push_back(std::move(message));
  queue.newInput |= QS_SENDMESSAGE;
}

// Runs the window procedure for every message other threads sent to the calling thread.
void ProcessSentMessages() {
  for (;;) {
    std::shared_ptr<SentMessage> message;
    {
      std::lock_guard guard(Lock());
      MessageQueue& queue = CurrentQueueLocked();
      if (queue.sent.empty()) return;
      message = queue.sent.front();
      queue.sent.pop_front();
    }
    LRESULT result = CallWindowProcedure(message->window, message->message, message->wParam, message->lParam);
    {
      std::lock_guard guard(Lock());
      CompleteLocked(*message, result);
    }
    StateChanged().notify_all();
  }
}

// The index a wait on `objects` would end with now, or -1. Lock held.
int SignaledIndexLocked(const std::vector<std::shared_ptr<KernelObject>>& objects, bool all) {
  size_t signaled = 0;
  int first = -1;
  for (size_t i = 0; i < objects.size(); ++i) {
    if (!objects[i]->Signaled()) continue;
    ++signaled;
    if (first < 0) first = static_cast<int>(i);
  }
  if (all) return !objects.empty() && signaled == objects.size() ? 0 : -1;
  return first;
}

void ConsumeLocked(const std::vector<std::shared_ptr<KernelObject>>& objects, int index, bool all) {
  if (!all) {
    objects[index]->Consume();
    return;
  }
  for (const auto& object : objects) object->Consume();
}

}  // namespace

void EnsureQueueOfCurrentThreadLocked() {
  DWORD self = GetCurrentThreadId();
  t_queueOwner.threadId = self;
  Queues()[self];
}

void SendWithoutWaiting(HWND window, UINT message, WPARAM wParam, std::vector<BYTE> payload) {
  DWORD owner = WindowOwner(window);
  if (owner == 0) return;
  auto sent = std::make_shared<SentMessage>();
  sent->window = window;
  sent->message = message;
  sent->wParam = wParam;
  sent->payload = std::move(payload);
  sent->lParam = reinterpret_cast<LPARAM>(sent->payload.data());
  {
    std::lock_guard guard(Lock());
    QueueSentLocked(owner, std::move(sent));
  }
  StateChanged().notify_all();
}

void DropMessagesForWindowLocked(HWND window) {
  for (auto& [thread, queue] : Queues()) {
    std::erase_if(queue.posted, [window](const MSG& message) { return message.hwnd == window; });
    std::erase_if(queue.sent, [window](const std::shared_ptr<SentMessage>& message) {
      if (message->window != window) return false;
      CompleteLocked(*message, 0);
      return true;
    });
  }
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  if (FailsByFault("PeekMessageA")) return FALSE;
  if (lpMsg == nullptr || !ValidFilter(hWnd)) {
    SetLastError(lpMsg == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  ProcessSentMessages();
  std::lock_guard guard(Lock());
  MessageQueue& queue = CurrentQueueLocked();
  queue.newInput = 0;
  return TakePostedLocked(queue, lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0);
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  if (FailsByFault("GetMessageA")) return -1;
  if (lpMsg == nullptr || !ValidFilter(hWnd)) {
    SetLastError(lpMsg == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  for (;;) {
    ProcessSentMessages();
    std::unique_lock guard(Lock());
    CurrentQueueLocked().newInput = 0;
    if (TakePostedLocked(CurrentQueueLocked(), lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true))
      return lpMsg->message == WM_QUIT ? FALSE : TRUE;
    MSG ignored;
    StateChanged().wait(guard, [&] {
      MessageQueue& queue = CurrentQueueLocked();
      return !queue.sent.empty() || TakePostedLocked(queue, &ignored, hWnd, wMsgFilterMin, wMsgFilterMax, false);
    });
  }
}

BOOL WINAPI TranslateMessage(const MSG*) {
  CountCall("TranslateMessage");
  // No keyboard input exists here, so there is never a character message to make.
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
  CountCall("DispatchMessageA");
  if (lpMsg == nullptr || lpMsg->hwnd == nullptr) return 0;
  return CallWindowProcedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (FailsByFault("PostMessageA")) return FALSE;
  if (hWnd == nullptr) return PostThreadMessageA(GetCurrentThreadId(), Msg, wParam, lParam);
  DWORD owner = WindowOwner(hWnd);
  if (owner == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard guard(Lock());
    PostLocked(Queues()[owner], hWnd, Msg, wParam, lParam);
  }
  StateChanged().notify_all();
  return TRUE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (FailsByFault("PostThreadMessageA")) return FALSE;
  {
    std::lock_guard guard(Lock());
    auto found = Queues().find(idThread);
    if (found == Queues().end()) {
      SetLastError(ERROR_INVALID_THREAD_ID);
      return FALSE;
    }
    PostLocked(found->second, nullptr, Msg, wParam, lParam);
  }
  StateChanged().notify_all();
  return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
  CountCall("PostQuitMessage");
  {
    std::lock_guard guard(Lock());
    MessageQueue& queue = CurrentQueueLocked();
    queue.quit = true;
    queue.quitCode = nExitCode;
    queue.newInput |= QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;
  }
  StateChanged().notify_all();
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (FailsByFault("SendMessageA")) return 0;
  DWORD owner = WindowOwner(hWnd);
  if (owner == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (owner == GetCurrentThreadId()) return CallWindowProcedure(hWnd, Msg, wParam, lParam);
  auto sent = std::make_shared<SentMessage>();
  *sent = SentMessage{hWnd, Msg, wParam, lParam, {}, false, 0};
  {
    std::lock_guard guard(Lock());
    QueueSentLocked(owner, sent);
  }
  StateChanged().notify_all();
  // While it waits for the answer, the sender answers what is sent to it, so two threads
  // that send to each other do not deadlock.
  for (;;) {
    {
      std::unique_lock guard(Lock());
      StateChanged().wait(guard, [&] { return sent->done || !CurrentQueueLocked().sent.empty(); });
      if (sent->done) return sent->result;
    }
    ProcessSentMessages();
  }
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                       DWORD dwWakeMask) {
  if (FailsByFault("MsgWaitForMultipleObjects")) return WAIT_FAILED;
  if (nCount >= kMaximumWaitObjects || (nCount > 0 && pHandles == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  for (DWORD i = 0; i < nCount; ++i) {
    auto object = LookupHandle(pHandles[i]);
    if (!object || !object->Waitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(object);
  }
  bool all = fWaitAll != FALSE;
  std::unique_lock guard(Lock());
  WaitingOn waiting(objects.data(), objects.size());
  DWORD result = WAIT_TIMEOUT;
  // Objects come first; then input that arrived since the thread last looked at its queue.
  auto ready = [&] {
    int index = SignaledIndexLocked(objects, all);
    if (index >= 0) {
      ConsumeLocked(objects, index, all);
      result = WAIT_OBJECT_0 + static_cast<DWORD>(index);
      return true;
    }
    if ((CurrentQueueLocked().newInput & dwWakeMask) == 0) return false;
    result = WAIT_OBJECT_0 + nCount;
    return true;
  };
  if (dwMilliseconds == INFINITE)
    StateChanged().wait(guard, ready);
  else
    StateChanged().wait_for(guard, std::chrono::milliseconds(dwMilliseconds), ready);
  return result;
}

}  // extern "C"
