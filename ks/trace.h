// Leveled diagnostic output of the kernel-streaming layer to the debugger.
#pragma once

#include "platform/win32.h"

// Levels in use, smaller is more severe.
enum TraceLevel : int {
  TRACE_ERROR = 1,
  TRACE_PIN_PROPERTY = 3,
  TRACE_TOPOLOGY = 4,
  TRACE_COMMUNICATION = 5,
  TRACE_FLOW = 6,
};

// Messages at or below this level are written. Fixed when the library is built.
extern const int g_traceLevel;

void TracePrintf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Entry and exit lines of a layer operation; `op` is the literal "Class::Method". The level is
// tested first, so that a build which does not write them pays no call on every operation.
#define KS_TRACE_FLOW(...)                                                   \
  do {                                                                       \
    if (TRACE_FLOW <= g_traceLevel) TracePrintf(TRACE_FLOW, __VA_ARGS__);    \
  } while (0)
#define KS_TRACE_ENTER(op) KS_TRACE_FLOW("%s Enter", op "()")
#define KS_TRACE_LEAVE(op) KS_TRACE_FLOW("%s Leave", op "()")
#define KS_TRACE_LEAVE_HR(op, hr) KS_TRACE_FLOW("%s Leave, returning %#08x", op, static_cast<unsigned>(hr))
