#include <cctype>

#include "winsim/crt.h"

extern "C" int __cdecl _mbsicmp(const unsigned char* string1, const unsigned char* string2) {
  for (;; ++string1, ++string2) {
    int a = std::tolower(*string1);
    int b = std::tolower(*string2);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}
