// Text as a Unicode file: UTF-16LE with its byte-order mark, the encoding Windows recommends
// for INF files. Header-only, so that the probes' Windows builds use it as well.
#pragma once

#include <string>
#include <string_view>

namespace testing {

inline std::string Utf16LeFile(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// Latin-1 text: each byte is its own code point.
inline std::string Utf16LeFile(std::string_view latin1) {
  std::u16string text;
  for (char c : latin1) text.push_back(static_cast<unsigned char>(c));
  return Utf16LeFile(std::u16string_view(text));
}

}  // namespace testing
