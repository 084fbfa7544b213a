// Debugger output.
#include <string>
#include <vector>

#include "runtime/fault_injection.h"
#include "runtime/reset.h"
#include "winsim/control.h"

namespace winsim {
namespace {

struct DebuggerOutput {
  std::vector<std::string> lines;  // one per OutputDebugStringA call
};

detail::AreaState<DebuggerOutput> State;

}  // namespace

std::vector<std::string> DebugOutput() {
  std::lock_guard guard(detail::Lock());
  return State().lines;
}

void ClearDebugOutput() {
  std::lock_guard guard(detail::Lock());
  State().lines.clear();
}

}  // namespace winsim

extern "C" void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  winsim::detail::CountCall("OutputDebugStringA");
  std::string text = lpOutputString ? lpOutputString : "";
  std::lock_guard guard(winsim::detail::Lock());
  winsim::State().lines.push_back(std::move(text));
}
