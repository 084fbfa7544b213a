// What the sample host's script may do to the machine it runs on. On the simulated platform
// it builds the default machine and plugs the hidden-port device in and out; on Windows the
// hardware is real, so the script leaves hot-plugging to the person at the keyboard.
#pragma once

namespace machine_control {

// Prepares the machine before the library is loaded.
void Prepare();
// True when Unplug and Replug work without a person.
bool CanScriptHotplug();
void UnplugHiddenPortDevice();
void ReplugHiddenPortDevice();

}  // namespace machine_control
