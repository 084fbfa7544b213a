// The C runtime's assertion report, which the kernel-streaming layer's assertions call.
#pragma once

#include "winsim/sdk/minwindef.h"

extern "C" void __cdecl _wassert(const wchar_t* message, const wchar_t* file, unsigned line);
