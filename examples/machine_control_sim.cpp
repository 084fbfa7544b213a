#include "machine_control.h"

#include "winsim/machine.h"

namespace machine_control {
namespace {
winsim::DefaultMachine g_machine{};
}  // namespace

void Prepare() { g_machine = winsim::LoadDefaultMachine(); }

bool CanScriptHotplug() { return true; }

void UnplugHiddenPortDevice() { winsim::UnplugDevice(g_machine.hiddenPortDevice); }

void ReplugHiddenPortDevice() { winsim::ReplugDevice(g_machine.hiddenPortDevice); }

}  // namespace machine_control
