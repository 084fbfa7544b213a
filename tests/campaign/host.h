// What the campaign's host scenarios share: the machine's hidden-port devices, a receiver for
// an input's records, and the host's own bounded waits.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "campaign/stream_pattern.h"
#include "client/TarrowinHiddenMIDI.h"
#include "support/host_delete.h"
#include "support/wait_until.h"
#include "support/window_messages.h"
#include "winsim/machine.h"

namespace campaign {

using TarrowinHiddenMIDI::Connection;
using TarrowinHiddenMIDI::Device;
using TarrowinHiddenMIDI::Input;
using TarrowinHiddenMIDI::Output;
using testing::PumpMessages;
using testing::WaitUntil;

const ULONG kRenderPinId = 0;
const ULONG kCapturePinId = 1;

// Destroys as a host does and forgets the pointer.
template <typename Interface>
void Destroy(Interface*& object) {
  testing::Destroy(object);
  object = nullptr;
}

// A hidden-port device whose output loops back to its input; `serial` makes the instance id.
winsim::DeviceId PlugHiddenLoopback(const std::string& pid, const std::string& name, int serial = 0);
winsim::DeviceId PlugOrdinaryAudio(int serial);

// Collects an input's records; the callback runs on the input's receive thread.
class Receiver {
 public:
  static void TARROWIN_CALLBACK Collect(const unsigned char* data, unsigned int count, void* context);
  std::vector<std::vector<Byte>> Records();
  size_t ByteCount();

 private:
  std::mutex m_lock;
  std::vector<std::vector<Byte>> m_records;
  size_t m_bytes = 0;
};

// The MIDI bytes the driver took on an interface, one record per write.
std::vector<std::vector<Byte>> WrittenRecords(const std::string& path);

// Waits (bounded) until an input on `path` runs with a read pending: its receive thread has
// started. False when it did not within the bound (its start failed, or it is slow).
bool WaitForReading(const std::string& path, int limitMs);

// Waits (bounded) until the bytes written to `path` have been taken by whatever input is
// there to take them: every running capture pin has a read pending (so nothing waits for a
// read), or none is running (nothing will take them), or `expected` bytes arrived.
// With `pumpMessages` the waits retrieve the thread's messages meanwhile, for callbacks that
// send to this thread's windows.
bool WaitForQuiet(const std::string& path, Receiver& receiver, size_t expected, int limitMs, bool pumpMessages = false);
// Waits until the receiver holds at least `expected` bytes or the limit passes.
bool WaitForByteCount(Receiver& receiver, size_t expected, int limitMs, bool pumpMessages = false);

// The most reads the waits above ever saw pending at once on one capture pin since the last
// reset: more than one means an OVERLAPPED in use was used again.
size_t MostPendingReadsSeen();
void ResetPendingReadsSeen();

}  // namespace campaign
