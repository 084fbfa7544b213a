// The system ANSI code page: its double-byte lead bytes, and Unicode text converted to it.
#include <atomic>

#include "kernel32/codepage.h"
#include "runtime/fault_injection.h"
#include "runtime/reset.h"
#include "winsim/control_ks.h"

namespace winsim {
namespace {

const UINT kDefaultCodePage = 1252;
std::atomic<UINT> g_codePage{kDefaultCodePage};

detail::ResetRegistration resetCodePage([] { g_codePage = kDefaultCodePage; });

// Code page 1252 at 0x80-0x9F (0 where it has no character); below and above that range its
// bytes are the Unicode code points themselves.
const char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// One UTF-16 code unit in the ANSI code page; '?' when it has no such character (the default
// character WideCharToMultiByte uses). Only ASCII is common to every code page.
char AnsiCharOf(char16_t unit) {
  if (unit < 0x80) return static_cast<char>(unit);
  if (g_codePage != 1252) return '?';
  if (unit >= 0xA0 && unit <= 0xFF) return static_cast<char>(unit);
  for (unsigned i = 0; i < 32; ++i)
    if (kWindows1252High[i] == unit) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

void SetAnsiCodePage(UINT codePage) { g_codePage = codePage; }

namespace detail {

std::string AnsiTextOf(const std::string& bytes) {
  if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') return bytes;
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (unit >= 0xDC00 && unit <= 0xDFFF) continue;  // the second half of a pair: one '?' for both
    text.push_back(AnsiCharOf(unit));
  }
  return text;
}

}  // namespace detail
}  // namespace winsim

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
  if (winsim::detail::FailsByFault("IsDBCSLeadByte")) return FALSE;
  // Code page 932 (Shift JIS) lead bytes; single-byte code pages have none.
  if (winsim::g_codePage != 932) return FALSE;
  return (TestChar >= 0x81 && TestChar <= 0x9F) || (TestChar >= 0xE0 && TestChar <= 0xFC);
}
