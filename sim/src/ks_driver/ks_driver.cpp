// The simulated kernel-streaming driver: filters opened on device interfaces, pins made by
// KsCreatePin, pin states, MIDI writes captured and MIDI reads completed as the device
// receives bytes, and the end of every request when the device leaves.
#include <algorithm>
#include <cstring>
#include <deque>
#include <map>

#include "ks_driver/ks_driver.h"
#include "ks_driver/ks_properties.h"
#include "winsim/control_ks.h"
#include "runtime/text.h"

namespace winsim::detail {
namespace {

struct PinFile;

struct InterfaceState {
  OpenCounts counts;
  std::deque<std::vector<BYTE>> received;  // MIDI bytes no read has taken yet
  std::vector<CapturedWrite> writes;
  std::vector<std::shared_ptr<PinFile>> pins;  // creation order
  // Bumped when the interface leaves: files opened before stay dead after a replug.
  unsigned epoch = 0;
};

AreaState<std::map<std::string, InterfaceState>> States;

InterfaceState& StateOfLocked(const std::string& path) { return States()[Lower(path)]; }
InterfaceState& StateOfLocked(const InterfaceRecord& record) { return States()[record.lowerPath]; }

struct KsFile : DeviceFile {
  unsigned epoch = 0;
  bool GoneLocked() const { return !record->present || StateOfLocked(*record).epoch != epoch; }
  RequestKey KeyOf(const IoRequest& request) const {
    RequestKey key{record->lowerPath, request.code, std::nullopt, std::nullopt, std::nullopt};
    if (std::optional<KSPROPERTY> property = PropertyOf(request)) {
      key.set = property->Set;
      key.id = property->Id;
    }
    return key;
  }
  std::vector<EventRef> EndOwnRequestsLocked(DWORD error) {
    return EndPendingLocked([this](const PendingIo& io) { return io.file.get() == this; }, StatusFromError(error));
  }
};

struct FilterFile : KsFile {
  IoAnswer Ioctl(IoRequest& request) override {
    std::lock_guard guard(Lock());
    if (GoneLocked()) return IoAnswer{false, ERROR_DEVICE_NOT_CONNECTED, 0};
    if (request.code != IOCTL_KS_PROPERTY) return IoAnswer{false, kErrorInvalidFunction, 0};
    return AnswerWithValue(FilterPropertyValue(record->filter, request), request, record->filter.sizeQueryError);
  }

  RequestKey Describe(const IoRequest& request) const override {
    RequestKey key = KeyOf(request);
    if (key.set && IsEqualGUID(*key.set, KSPROPSETID_Pin) && request.inSize >= sizeof(KSP_PIN)) {
      KSP_PIN pinProperty;
      std::memcpy(&pinProperty, request.in, sizeof pinProperty);
      key.pinId = pinProperty.PinId;
    }
    return key;
  }

  void OnLastHandleClosed() override {
    std::vector<EventRef> events;
    {
      std::lock_guard guard(Lock());
      ++StateOfLocked(*record).counts.filterCloses;
      events = EndOwnRequestsLocked(ERROR_OPERATION_ABORTED);
    }
    SignalEvents(events);
  }
};

void DeliverReceivedLocked(InterfaceState& state, std::vector<EventRef>& events);

struct PinFile : KsFile {
  PinInstance info;
  bool render = false;

  RequestKey Describe(const IoRequest& request) const override {
    RequestKey key = KeyOf(request);
    key.pinId = info.pinId;
    return key;
  }

  IoAnswer Ioctl(IoRequest& request) override {
    std::vector<EventRef> events;
    IoAnswer answer;
    {
      std::lock_guard guard(Lock());
      if (GoneLocked()) return IoAnswer{false, ERROR_DEVICE_NOT_CONNECTED, 0};
      switch (request.code) {
        case IOCTL_KS_PROPERTY: answer = PropertyLocked(request, events); break;
        case IOCTL_KS_WRITE_STREAM: answer = WriteLocked(request, events); break;
        case IOCTL_KS_READ_STREAM: answer = ReadLocked(request); break;
        default: answer = IoAnswer{false, kErrorInvalidFunction, 0};
      }
    }
    SignalEvents(events);
    return answer;
  }

  void AfterQueued() override {
    std::vector<EventRef> events;
    {
      std::lock_guard guard(Lock());
      InterfaceState& state = StateOfLocked(*record);
      DeliverReceivedLocked(state, events);
    }
    SignalEvents(events);
  }

  void OnLastHandleClosed() override {
    std::vector<EventRef> events;
    {
      std::lock_guard guard(Lock());
      info.open = false;
      ++StateOfLocked(*record).counts.pinCloses;
      events = EndOwnRequestsLocked(ERROR_OPERATION_ABORTED);
    }
    SignalEvents(events);
  }

  IoAnswer PropertyLocked(IoRequest& request, std::vector<EventRef>& events) {
    std::optional<KSPROPERTY> property = PropertyOf(request);
    if (!property) return IoAnswer{false, ERROR_INVALID_PARAMETER, 0};
    if (!IsEqualGUID(property->Set, KSPROPSETID_Connection) || property->Id != KSPROPERTY_CONNECTION_STATE)
      return IoAnswer{false, ERROR_NOT_FOUND, 0};
    if (request.outSize < sizeof(KSSTATE) || request.out == nullptr)
      return IoAnswer{false, ERROR_INSUFFICIENT_BUFFER, sizeof(KSSTATE)};
    if (property->Flags == KSPROPERTY_TYPE_GET) {
      std::memcpy(request.out, &info.state, sizeof info.state);
      return IoAnswer{false, ERROR_SUCCESS, sizeof(KSSTATE)};
    }
    if (property->Flags != KSPROPERTY_TYPE_SET) return IoAnswer{false, ERROR_NOT_FOUND, 0};
    KSSTATE state;
    std::memcpy(&state, request.out, sizeof state);
    if (state < KSSTATE_STOP || state > KSSTATE_RUN) return IoAnswer{false, ERROR_INVALID_PARAMETER, 0};
    info.stateRequests.push_back(state);
    info.state = state;
    // Stopping flushes the pin's queue; running lets received bytes flow.
    if (state == KSSTATE_STOP) {
      std::vector<EventRef> ended = EndOwnRequestsLocked(ERROR_OPERATION_ABORTED);
      events.insert(events.end(), ended.begin(), ended.end());
    } else if (state == KSSTATE_RUN) {
      DeliverReceivedLocked(StateOfLocked(*record), events);
    }
    return IoAnswer{false, ERROR_SUCCESS, 0};
  }

  // The stream header at the start of the output, checked before anything it points at is used.
  std::optional<KSSTREAM_HEADER> HeaderOf(const IoRequest& request, IoAnswer* failure) const {
    *failure = IoAnswer{false, ERROR_INVALID_PARAMETER, 0};
    if (request.out == nullptr || request.outSize < sizeof(KSSTREAM_HEADER)) return std::nullopt;
    KSSTREAM_HEADER header;
    std::memcpy(&header, request.out, sizeof header);
    if (header.Size < sizeof(KSSTREAM_HEADER) || header.Size > request.outSize) return std::nullopt;
    if (header.Data == nullptr || header.FrameExtent <= sizeof(KSMUSICFORMAT)) return std::nullopt;
    if (info.state == KSSTATE_STOP) {
      *failure = IoAnswer{false, kErrorBadCommand, 0};
      return std::nullopt;
    }
    return header;
  }

  IoAnswer WriteLocked(IoRequest& request, std::vector<EventRef>& events) {
    if (!render) return IoAnswer{false, kErrorInvalidFunction, 0};
    IoAnswer failure;
    std::optional<KSSTREAM_HEADER> header = HeaderOf(request, &failure);
    if (!header) return failure;
    KSMUSICFORMAT event;
    std::memcpy(&event, header->Data, sizeof event);
    // The event's ByteCount says how many MIDI bytes follow; they must lie inside the frame.
    if (event.ByteCount > header->FrameExtent - sizeof(KSMUSICFORMAT)) return failure;
    const BYTE* bytes = static_cast<const BYTE*>(header->Data) + sizeof(KSMUSICFORMAT);
    CapturedWrite write;
    write.pinId = info.pinId;
    write.header = *header;
    write.event = request.overlapped->hEvent;
    write.timeDeltaMs = event.TimeDeltaMs;
    write.byteCount = event.ByteCount;
    write.bytes.assign(bytes, bytes + event.ByteCount);
    InterfaceState& state = StateOfLocked(*record);
    state.writes.push_back(write);
    if (record->filter.loopbackMidi && !write.bytes.empty()) {
      state.received.push_back(write.bytes);
      DeliverReceivedLocked(state, events);
    }
    return IoAnswer{false, ERROR_SUCCESS, sizeof(KSSTREAM_HEADER)};
  }

  IoAnswer ReadLocked(IoRequest& request) {
    if (render) return IoAnswer{false, kErrorInvalidFunction, 0};
    IoAnswer failure;
    if (!HeaderOf(request, &failure)) return failure;
    return IoAnswer{true, ERROR_SUCCESS, 0};
  }
};

// Hands received bytes to the oldest pending read of the first running capture pin, one
// KSMUSICFORMAT event of at most the frame's room per read.
void DeliverReceivedLocked(InterfaceState& state, std::vector<EventRef>& events) {
  while (!state.received.empty()) {
    PendingIo* read = nullptr;
    for (const auto& pin : state.pins) {
      if (!pin->info.open || pin->render || pin->info.state != KSSTATE_RUN || pin->GoneLocked()) continue;
      read = OldestQueuedLocked(pin.get(), IOCTL_KS_READ_STREAM);
      if (read) break;
    }
    if (!read) return;
    auto* header = reinterpret_cast<KSSTREAM_HEADER*>(read->request.out);
    std::vector<BYTE>& chunk = state.received.front();
    ULONG room = header->FrameExtent - sizeof(KSMUSICFORMAT);
    ULONG count = std::min<ULONG>(room, static_cast<ULONG>(chunk.size()));
    KSMUSICFORMAT event{0, count};
    BYTE* data = static_cast<BYTE*>(header->Data);
    std::memcpy(data, &event, sizeof event);
    std::memcpy(data + sizeof event, chunk.data(), count);
    header->DataUsed = sizeof event + count;
    chunk.erase(chunk.begin(), chunk.begin() + count);
    if (chunk.empty()) state.received.pop_front();
    events.push_back(CompleteLocked(read->id, kStatusSuccess, sizeof(KSSTREAM_HEADER)));
  }
}

bool SameIdentifier(const KSIDENTIFIER& a, const KSIDENTIFIER& b) {
  return IsEqualGUID(a.Set, b.Set) && a.Id == b.Id;
}

// The identifier must be one the pin factory offers; one that offers none takes the standard one.
bool Offered(const std::vector<KSIDENTIFIER>& offered, const KSIDENTIFIER& asked, const GUID& standardSet) {
  if (offered.empty()) return IsEqualGUID(asked.Set, standardSet) && asked.Id == 0;
  return std::any_of(offered.begin(), offered.end(), [&](const KSIDENTIFIER& id) { return SameIdentifier(id, asked); });
}

DWORD CheckConnect(const FilterDesc& filter, const KSPIN_CONNECT& connect, const KSDATAFORMAT& format) {
  if (connect.PinId >= filter.pins.size()) return ERROR_INVALID_PARAMETER;
  const PinFactoryDesc& pin = filter.pins[connect.PinId];
  // Streaming and looped streaming are the two standard interfaces.
  KSIDENTIFIER streaming = connect.Interface;
  if (IsEqualGUID(streaming.Set, KSINTERFACESETID_Standard) && streaming.Id == KSINTERFACE_STANDARD_LOOPED_STREAMING)
    streaming.Id = KSINTERFACE_STANDARD_STREAMING;
  if (!Offered(pin.interfaces, streaming, KSINTERFACESETID_Standard)) return kErrorNoMatch;
  if (!Offered(pin.mediums, connect.Medium, KSMEDIUMSETID_Standard)) return kErrorNoMatch;
  if (format.FormatSize < sizeof(KSDATAFORMAT)) return ERROR_INVALID_PARAMETER;
  if (pin.dataRanges.empty() || pin.dataRanges.front().size() < sizeof(KSDATARANGE)) return kErrorNoMatch;
  KSDATARANGE range;
  std::memcpy(&range, pin.dataRanges.front().data(), sizeof range);
  if (!IsEqualGUID(range.MajorFormat, format.MajorFormat) || !IsEqualGUID(range.SubFormat, format.SubFormat) ||
      !IsEqualGUID(range.Specifier, format.Specifier))
    return kErrorNoMatch;
  return ERROR_SUCCESS;
}

}  // namespace

// Unplugging ends every pending request on the interface and leaves its open files dead.
void EndRequestsOfRemovedInterface(const InterfaceRecord& record) {
  std::vector<EventRef> events;
  {
    std::lock_guard guard(Lock());
    InterfaceState& state = StateOfLocked(record);
    ++state.epoch;
    state.received.clear();
    events = EndPendingLocked([&record](const PendingIo& io) { return io.file->record.get() == &record; },
                              StatusFromError(ERROR_DEVICE_NOT_CONNECTED));
  }
  SignalEvents(events);
}

std::shared_ptr<DeviceFile> OpenFilterFile(const std::shared_ptr<InterfaceRecord>& record) {
  std::lock_guard guard(Lock());
  if (!record->present) return nullptr;
  auto file = std::make_shared<FilterFile>();
  file->record = record;
  InterfaceState& state = StateOfLocked(*record);
  file->epoch = state.epoch;
  ++state.counts.filterOpens;
  return file;
}

DWORD CreatePinFile(HANDLE filterHandle, const KSPIN_CONNECT* connect, HANDLE* pinHandle) {
  auto filter = LookupAs<FilterFile>(filterHandle);
  if (!filter) return ERROR_INVALID_HANDLE;
  if (connect == nullptr || pinHandle == nullptr) return ERROR_NOACCESS;
  // The data format follows the connection request; its FormatSize says how long it is.
  KSDATAFORMAT format;
  std::memcpy(&format, connect + 1, sizeof format);
  auto pin = std::make_shared<PinFile>();
  {
    std::lock_guard guard(Lock());
    if (filter->GoneLocked()) return ERROR_DEVICE_NOT_CONNECTED;
    DWORD error = CheckConnect(filter->record->filter, *connect, format);
    if (error != ERROR_SUCCESS) return error;
    pin->record = filter->record;
    pin->epoch = filter->epoch;
    // The pin handle takes the filter handle's mode, as KsCreatePin opens it.
    pin->overlapped = filter->overlapped;
    pin->info.pinId = connect->PinId;
    pin->info.connect = *connect;
    pin->info.format = format;
    pin->render = filter->record->filter.pins[connect->PinId].dataFlow == KSPIN_DATAFLOW_IN;
  }
  HANDLE handle = InsertHandle(pin);
  {
    std::lock_guard guard(Lock());
    InterfaceState& state = StateOfLocked(*pin->record);
    state.pins.push_back(pin);
    ++state.counts.pinOpens;
  }
  *pinHandle = handle;
  return ERROR_SUCCESS;
}

}  // namespace winsim::detail

namespace winsim {

void ReceiveMidi(const std::string& interfacePath, const std::vector<BYTE>& bytes) {
  // A device that is not there receives nothing.
  auto record = detail::FindInterface(interfacePath);
  if (!record || bytes.empty()) return;
  std::vector<detail::EventRef> events;
  {
    std::lock_guard guard(detail::Lock());
    if (!record->present) return;
    detail::InterfaceState& state = detail::StateOfLocked(interfacePath);
    state.received.push_back(bytes);
    detail::DeliverReceivedLocked(state, events);
  }
  detail::SignalEvents(events);
}

std::vector<CapturedWrite> CapturedWrites(const std::string& interfacePath) {
  std::lock_guard guard(detail::Lock());
  return detail::StateOfLocked(interfacePath).writes;
}

void ClearCapturedWrites(const std::string& interfacePath) {
  std::lock_guard guard(detail::Lock());
  detail::StateOfLocked(interfacePath).writes.clear();
}

std::vector<CapturedWrite> TakeCapturedWrites(const std::string& interfacePath) {
  std::lock_guard guard(detail::Lock());
  std::vector<CapturedWrite> taken;
  taken.swap(detail::StateOfLocked(interfacePath).writes);
  return taken;
}

std::vector<PinInstance> PinInstances(const std::string& interfacePath) {
  std::lock_guard guard(detail::Lock());
  std::vector<PinInstance> pins;
  for (const auto& pin : detail::StateOfLocked(interfacePath).pins) {
    PinInstance info = pin->info;
    info.pendingReads = detail::CountQueuedLocked(pin.get(), IOCTL_KS_READ_STREAM);
    pins.push_back(info);
  }
  return pins;
}

OpenCounts InterfaceOpenCounts(const std::string& interfacePath) {
  std::lock_guard guard(detail::Lock());
  return detail::StateOfLocked(interfacePath).counts;
}

}  // namespace winsim
