// A driver that completes a read with whatever bytes it likes: the frame written into the
// read's data buffer (never past its FrameExtent), the header's DataUsed and the byte count
// as given, with the status given. Lets fuzzers hand the client malformed records.
#include <algorithm>
#include <cstring>

#include "kernel32/device_io.h"
#include "winsim/control_ks.h"
#include "runtime/text.h"

namespace winsim {

bool CompleteReadRaw(const std::string& interfacePath, const std::vector<BYTE>& frame, ULONG dataUsed,
                     ULONG_PTR bytesReturned, DWORD error) {
  using namespace detail;
  const std::string path = Lower(interfacePath);
  std::vector<detail::EventRef> events;
  {
    std::lock_guard guard(Lock());
    uint64_t id = 0;
    // Only selects the oldest read the driver itself queued; completing it is done below so
    // that the byte count is the one given.
    EndPendingLocked(
        [&](const PendingIo& io) {
          if (id != 0 || io.answer || io.request.code != IOCTL_KS_READ_STREAM) return false;
          if (!io.file->record || Lower(io.file->record->path) != path) return false;
          if (io.request.out == nullptr || io.request.outSize < sizeof(KSSTREAM_HEADER)) return false;
          auto* header = reinterpret_cast<KSSTREAM_HEADER*>(io.request.out);
          if (header->Data == nullptr) return false;
          size_t count = std::min<size_t>(frame.size(), header->FrameExtent);
          if (count != 0) std::memcpy(header->Data, frame.data(), count);
          header->DataUsed = dataUsed;
          id = io.id;
          return false;
        },
        kStatusSuccess);
    if (id == 0) return false;
    events.push_back(CompleteLocked(id, StatusFromError(error), bytesReturned));
  }
  SignalEvents(events);
  return true;
}

}  // namespace winsim
