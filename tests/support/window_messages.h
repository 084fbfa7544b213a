// Window messages as a host's window thread handles them: the thread's waiting messages
// dispatched, and a message-only window of a class of its own.
#pragma once

#include "platform/win32.h"

namespace testing {

// Retrieves and dispatches every message waiting for this thread.
inline void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// A message-only window of class `className` with `procedure`; destroyed, and its class
// unregistered, with this object (both checked).
class MessageWindow {
 public:
  MessageWindow(const char* className, WNDPROC procedure);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;
  HWND Handle() const { return m_window; }

 private:
  const char* m_className;
  HWND m_window = nullptr;
};

}  // namespace testing
