// The C runtime's assertion report: fatal as on Windows, or kept for a test to read back.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/reset.h"
#include "winsim/control.h"

namespace winsim {
namespace {

struct AssertionReports {
  std::vector<std::string> reports;
  bool fatal = true;
};

detail::AreaState<AssertionReports> State;

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

}  // namespace

void SetAssertionsFatal(bool fatal) {
  std::lock_guard guard(detail::Lock());
  State().fatal = fatal;
}

std::vector<std::string> Assertions() {
  std::lock_guard guard(detail::Lock());
  return State().reports;
}

}  // namespace winsim

extern "C" void __cdecl _wassert(const wchar_t* message, const wchar_t* file, unsigned line) {
  std::string report = winsim::Narrow(message) + "|" + winsim::Narrow(file) + "|" + std::to_string(line);
  bool fatal;
  {
    std::lock_guard guard(winsim::detail::Lock());
    winsim::State().reports.push_back(report);
    fatal = winsim::State().fatal;
  }
  if (fatal) {
    std::fprintf(stderr, "Assertion failed: %s\n", report.c_str());
    std::abort();
  }
}
