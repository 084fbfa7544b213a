// The Microsoft C runtime's multibyte string functions the deliverables use.
#pragma once

#include "winsim/base_types.h"

extern "C" {
// Compares without regard to case under the current multibyte code page. The simulated
// process runs with a single-byte code page, where letters fold as in the "C" locale.
int __cdecl _mbsicmp(const unsigned char* string1, const unsigned char* string2);
// Byte-wise comparisons without regard to case, letters folding as in the "C" locale.
int __cdecl _stricmp(const char* string1, const char* string2);
int __cdecl _strnicmp(const char* string1, const char* string2, size_t count);
}
