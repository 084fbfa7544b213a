#include "support/window_messages.h"

#include <doctest/doctest.h>

namespace testing {

MessageWindow::MessageWindow(const char* className, WNDPROC procedure) : m_className(className) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  REQUIRE(RegisterClassExA(&windowClass) != 0);
  m_window = CreateWindowExA(0, className, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                             nullptr);
  REQUIRE(m_window != nullptr);
}

MessageWindow::~MessageWindow() {
  CHECK(DestroyWindow(m_window));
  CHECK(UnregisterClassA(m_className, GetModuleHandleA(nullptr)));
}

}  // namespace testing
