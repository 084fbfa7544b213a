// Debugger output and assertion reports.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/fault_injection.h"
#include "runtime/reset.h"
#include "winsim/control.h"

namespace winsim {
namespace {

struct Captured {
  std::vector<std::string> debugOutput;
  std::vector<std::string> assertions;
  bool assertionsFatal = true;
};

Captured& State() {
  static Captured* state = new Captured;  // never destroyed: read by exit handlers
  return *state;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

detail::ResetRegistration resetCaptured([] {
  std::lock_guard guard(detail::Lock());
  State().debugOutput.clear();
  State().assertions.clear();
  State().assertionsFatal = true;
});

}  // namespace

std::vector<std::string> DebugOutput() {
  std::lock_guard guard(detail::Lock());
  return State().debugOutput;
}

void ClearDebugOutput() {
  std::lock_guard guard(detail::Lock());
  State().debugOutput.clear();
}

void SetAssertionsFatal(bool fatal) {
  std::lock_guard guard(detail::Lock());
  State().assertionsFatal = fatal;
}

std::vector<std::string> Assertions() {
  std::lock_guard guard(detail::Lock());
  return State().assertions;
}

}  // namespace winsim

extern "C" {

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  winsim::detail::CountCall("OutputDebugStringA");
  std::string text = lpOutputString ? lpOutputString : "";
  if (std::getenv("WINSIM_ECHO_DEBUG_OUTPUT")) std::fputs(text.c_str(), stderr);
  std::lock_guard guard(winsim::detail::Lock());
  winsim::State().debugOutput.push_back(std::move(text));
}

void __cdecl _wassert(const wchar_t* message, const wchar_t* file, unsigned line) {
  std::string report = winsim::Narrow(message) + "|" + winsim::Narrow(file) + "|" + std::to_string(line);
  bool fatal;
  {
    std::lock_guard guard(winsim::detail::Lock());
    winsim::State().assertions.push_back(report);
    fatal = winsim::State().assertionsFatal;
  }
  if (fatal) {
    std::fprintf(stderr, "Assertion failed: %s\n", report.c_str());
    std::abort();
  }
}

}  // extern "C"
