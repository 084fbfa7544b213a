// The system ANSI code page, as far as double-byte lead bytes go.
#include <atomic>

#include "internal.h"
#include "winsim/control_ks.h"

namespace winsim {
namespace {

const UINT kDefaultCodePage = 1252;
std::atomic<UINT> g_codePage{kDefaultCodePage};

detail::ResetRegistration resetCodePage([] { g_codePage = kDefaultCodePage; });

}  // namespace

void SetAnsiCodePage(UINT codePage) { g_codePage = codePage; }

}  // namespace winsim

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) {
  if (winsim::detail::FailsByFault("IsDBCSLeadByte")) return FALSE;
  // Code page 932 (Shift JIS) lead bytes; single-byte code pages have none.
  if (winsim::g_codePage != 932) return FALSE;
  return (TestChar >= 0x81 && TestChar <= 0x9F) || (TestChar >= 0xE0 && TestChar <= 0xFC);
}
