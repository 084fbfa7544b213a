#include <cctype>

#include "winsim/sdk/mbstring.h"
#include "winsim/sdk/string.h"

extern "C" int __cdecl _mbsicmp(const unsigned char* string1, const unsigned char* string2) {
  for (;; ++string1, ++string2) {
    int a = std::tolower(*string1);
    int b = std::tolower(*string2);
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
}

extern "C" int __cdecl _stricmp(const char* string1, const char* string2) {
  return _strnicmp(string1, string2, static_cast<size_t>(-1));
}

extern "C" int __cdecl _strnicmp(const char* string1, const char* string2, size_t count) {
  for (size_t index = 0; index < count; ++index) {
    int a = std::tolower(static_cast<unsigned char>(string1[index]));
    int b = std::tolower(static_cast<unsigned char>(string2[index]));
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
  return 0;
}
