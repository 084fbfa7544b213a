// Assertions of the kernel-streaming layer. They stay active in the shipped library and
// report through the C runtime's wide-character assertion facility.
#pragma once

#include "platform/win32.h"

#define KS_WIDEN_(text) L##text
#define KS_WIDEN(text) KS_WIDEN_(text)

#define KS_ASSERT(expr) \
  ((void)((!!(expr)) || (_wassert(KS_WIDEN(#expr), KS_WIDEN(__FILE__), static_cast<unsigned>(__LINE__)), 0)))
