// Shared machinery of the window and message areas: the window table and the message queues.
#pragma once

#include <vector>

#include "winsim/sdk/windows.h"

namespace winsim::detail {

// The thread that created the window, or 0 when there is no such window.
DWORD WindowOwner(HWND window);

// Calls the window's procedure on the calling thread, without the lock; 0 when the window is gone.
LRESULT CallWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Removes every window of a thread that ended, without calling their procedures. Lock held.
void DiscardWindowsOfThreadLocked(DWORD threadId);

// Makes sure the calling thread has a message queue (every thread that creates a window or
// retrieves messages has one), so that its end is noticed. Lock held.
void EnsureQueueOfCurrentThreadLocked();

// Queues a sent message for the window's owning thread, which processes it inside its message
// retrieval; the caller does not wait for it. lParam is the address of `payload`, which lives
// until the message has been processed. Does nothing for a window that does not exist.
void SendWithoutWaiting(HWND window, UINT message, WPARAM wParam, std::vector<BYTE> payload);

// Forgets the messages queued for a window being destroyed; a thread waiting in SendMessageA
// for one of them gets 0. Lock held.
void DropMessagesForWindowLocked(HWND window);

}  // namespace winsim::detail
