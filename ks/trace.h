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

// The entry and exit lines of one layer operation: the entry line when made, the exit line on
// whichever return leaves the operation. Given its result, the exit line reports the value the
// result holds then. The level is tested first, so that a build which does not write these
// lines pays no call on any operation.
class TraceScope {
 public:
  TraceScope(const char* pszText, const char* pszName, const HRESULT* phr)
      : m_pszText(pszText), m_pszName(pszName), m_phr(phr) {
    if (Written()) TracePrintf(TRACE_FLOW, "%s Enter", m_pszText);
  }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
  ~TraceScope() {
    if (!Written() || m_pszText == NULL) return;
    if (m_phr == NULL) {
      TracePrintf(TRACE_FLOW, "%s Leave", m_pszText);
    } else {
      TracePrintf(TRACE_FLOW, "%s Leave, returning %#08x", m_pszName, static_cast<unsigned>(*m_phr));
    }
  }

  // For an operation that leaves without its exit line.
  void OmitLeave() { m_pszText = NULL; }

 private:
  static bool Written() { return TRACE_FLOW <= g_traceLevel; }

  const char* m_pszText;
  const char* m_pszName;
  const HRESULT* m_phr;
};

// Traces the enclosing operation; `op` is the literal "Class::Method", the text of both lines
// adds "()". The _HR form reports the named HRESULT variable, declared before it.
#define KS_TRACE_SCOPE(op) TraceScope ksTraceScope(op "()", op, NULL)
#define KS_TRACE_SCOPE_HR(op, hr) TraceScope ksTraceScope(op "()", op, &(hr))
