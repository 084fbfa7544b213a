// The Microsoft C runtime's case-insensitive byte string comparisons the deliverables use.
#pragma once

#include "winsim/sdk/minwindef.h"

extern "C" {
// Byte-wise comparisons without regard to case, letters folding as in the "C" locale.
int __cdecl _stricmp(const char* string1, const char* string2);
int __cdecl _strnicmp(const char* string1, const char* string2, size_t count);
}
