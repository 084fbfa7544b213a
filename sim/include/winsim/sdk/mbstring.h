// The Microsoft C runtime's multibyte string comparison the deliverables use.
#pragma once

#include "winsim/sdk/minwindef.h"

extern "C" {
// Compares without regard to case under the current multibyte code page. The simulated
// process runs with a single-byte code page, where letters fold as in the "C" locale.
int __cdecl _mbsicmp(const unsigned char* string1, const unsigned char* string2);
}
