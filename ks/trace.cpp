#include "ks/trace.h"

#include <cstdarg>
#include <cstdio>

// The build's setting (ks/CMakeLists.txt), which tests linked with the library see as well.
const int g_traceLevel = KS_TRACE_LEVEL;

void TracePrintf(int level, const char* format, ...) {
  if (level > g_traceLevel) return;

  const int kBufferSize = MAX_PATH;
  char buffer[kBufferSize];
  va_list args;
  va_start(args, format);
  int written = vsnprintf(buffer, kBufferSize, format, args);
  va_end(args);
  // Some C runtimes leave a full buffer unterminated and report -1: cut at 259 either way.
  if (written < 0 || written >= kBufferSize - 1) buffer[kBufferSize - 1] = '\0';

  OutputDebugStringA(buffer);
  OutputDebugStringA("\r\n");
}
