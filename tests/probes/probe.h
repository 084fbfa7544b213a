// What every probe prints with: one "name: value" line per observation, so that the output of
// a probe built for Windows (run under Wine) and built against the simulated platform can be
// compared line by line. Probes use the Windows API only, never the deliverables' code.
#pragma once

#include <cstdio>

#include "platform/win32.h"

namespace probe {

inline void Value(const char* name, unsigned long long value) {
  std::printf("%s: %llu\n", name, value);
  std::fflush(stdout);
}

inline void Hex(const char* name, unsigned long long value) {
  std::printf("%s: 0x%llx\n", name, value);
  std::fflush(stdout);
}

inline void Flag(const char* name, bool value) { Value(name, value ? 1 : 0); }

// The result of a call and the last error right after it.
inline void Result(const char* name, unsigned long long result) {
  DWORD error = GetLastError();
  std::printf("%s: %llu error %lu\n", name, result, static_cast<unsigned long>(error));
  std::fflush(stdout);
}

// SetLastError before a call, so that an error the call does not set shows as this value.
const DWORD kUnset = 0xDEAD;

}  // namespace probe
