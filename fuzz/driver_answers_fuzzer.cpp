// Fuzzes what the driver answers: the pin count, every pin property's bytes, the data ranges,
// the topology nodes, the size-query error and the records of completed reads all come from
// the input. They are driven through the client's enumeration, a device's two ports and a
// stream, and through the filter's node listing. Any crash, sanitizer report, leaked handle,
// hang or record delivered with more bytes than its frame holds is a finding.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "client/TarrowinHiddenMIDI.h"
#include "support/host_delete.h"
#include "ks/filter.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"
#include "winsim/machine.h"

namespace {

const ULONG kPinProperties[] = {KSPROPERTY_PIN_CINSTANCES, KSPROPERTY_PIN_DATAFLOW,  KSPROPERTY_PIN_DATARANGES,
                                KSPROPERTY_PIN_INTERFACES, KSPROPERTY_PIN_MEDIUMS,   KSPROPERTY_PIN_COMMUNICATION,
                                KSPROPERTY_PIN_GLOBALCINSTANCES, KSPROPERTY_PIN_CATEGORY, KSPROPERTY_PIN_NAME};

std::vector<BYTE> Bytes(FuzzedDataProvider& in, size_t most) {
  return in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<size_t>(0, most));
}

// A data range the matcher may well accept, with its fields fuzzed.
std::vector<BYTE> DataRange(FuzzedDataProvider& in) {
  static const GUID kSubFormats[] = {winsim::kDriverHiddenMidiSubFormat1, winsim::kDriverHiddenMidiSubFormat2,
                                     KSDATAFORMAT_SUBTYPE_MIDI};
  std::vector<BYTE> range = winsim::MusicDataRange(kSubFormats[in.ConsumeIntegralInRange(0, 2)]);
  if (in.ConsumeBool()) {
    ULONG formatSize = in.ConsumeIntegral<ULONG>();
    std::memcpy(range.data(), &formatSize, sizeof formatSize);
  }
  if (in.ConsumeBool()) range.resize(in.ConsumeIntegralInRange<size_t>(0, 200));
  return range;
}

// An input that runs out reads as zeros, and zeros describe the working hidden port: a render
// pin, a capture pin, their usual answers and a stream through both. Every choice below
// departs from that only on a non-zero value.
winsim::PinFactoryDesc Pin(FuzzedDataProvider& in, size_t index) {
  winsim::PinFactoryDesc pin = winsim::MidiPinFactory(winsim::kDriverHiddenMidiSubFormat1,
                                                      index % 2 == 0 ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT);
  if (in.ConsumeBool()) pin.dataFlow = in.ConsumeIntegral<ULONG>();
  if (in.ConsumeBool()) pin.communication = in.ConsumeIntegral<ULONG>();
  if (in.ConsumeBool()) {
    pin.dataRanges.clear();
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) pin.dataRanges.push_back(DataRange(in));
  }
  if (in.ConsumeIntegralInRange(0, 15) == 15) pin.propertyError = in.ConsumeBool() ? ERROR_NOT_FOUND : ERROR_MORE_DATA;
  // Any property may be answered with bytes of the input instead.
  for (ULONG id : kPinProperties)
    if (in.ConsumeBool()) pin.rawAnswers[id] = Bytes(in, 300);
  return pin;
}

winsim::FilterDesc Filter(FuzzedDataProvider& in) {
  winsim::FilterDesc filter;
  size_t pins = (in.ConsumeIntegralInRange<size_t>(0, 4) + 2) % 5;
  for (size_t i = 0; i < pins; ++i) filter.pins.push_back(Pin(in, i));
  if (in.ConsumeBool()) filter.rawPinCount = Bytes(in, 8);
  if (in.ConsumeBool()) filter.rawNodes = Bytes(in, 200);
  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) filter.nodes.push_back(KSCATEGORY_AUDIO);
  filter.sizeQueryError = in.ConsumeBool() ? ERROR_MORE_DATA : ERROR_INSUFFICIENT_BUFFER;
  return filter;
}

void Fail(const char* what) {
  std::fprintf(stderr, "driver answers fuzzer: %s\n", what);
  std::abort();
}

bool WaitForRead(const std::string& path) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  for (;;) {
    for (const winsim::PinInstance& pin : winsim::PinInstances(path))
      if (pin.open && pin.state == KSSTATE_RUN && pin.pendingReads > 0) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

struct Delivery {
  std::vector<BYTE> frame;  // the record the driver completed last
  int calls = 0;
};

void TARROWIN_CALLBACK Check(const unsigned char* data, unsigned int count, void* context) {
  auto* delivery = static_cast<Delivery*>(context);
  ++delivery->calls;
  // The frame has room for 12 MIDI bytes after its 8-byte event header; nothing else is data.
  if (count > 12) Fail("a record was delivered with more bytes than its frame holds");
  const std::vector<BYTE>& frame = delivery->frame;
  if (frame.size() >= 8 + count && std::memcmp(data, frame.data() + 8, count) != 0)
    Fail("a record's bytes are not the ones the driver wrote");
}

using testing::Destroy;

void Stream(FuzzedDataProvider& in, TarrowinHiddenMIDI::Device* device, const std::string& path) {
  TarrowinHiddenMIDI::Output* output = device->OpenOutput(0);
  TarrowinHiddenMIDI::Input* input = device->OpenInput(0);
  Delivery delivery;
  if (input) input->SetCallback(Check, &delivery);
  if (output) {
    std::vector<BYTE> bytes = in.ConsumeBool() ? Bytes(in, 1400) : std::vector<BYTE>(1300, 0x90);
    output->Send(bytes.data(), static_cast<int>(bytes.size()));
  }
  // Completed reads: each frame as the driver wrote it, with its DataUsed and byte count.
  // An input whose pin did not start within the bound is left alone: it reads nothing.
  bool reading = input && WaitForRead(path);
  for (int n = (in.ConsumeIntegralInRange(0, 4) + 2) % 5; reading && n > 0; --n) {
    static const std::vector<BYTE> kNoteOn = {0, 0, 0, 0, 3, 0, 0, 0, 0x90, 0x3C, 0x64};
    delivery.frame = in.ConsumeBool() ? Bytes(in, 40) : kNoteOn;
    ULONG dataUsed = in.ConsumeBool() ? in.ConsumeIntegral<ULONG>() : static_cast<ULONG>(kNoteOn.size());
    ULONG_PTR bytesReturned = in.ConsumeBool() ? in.ConsumeIntegralInRange<ULONG_PTR>(0, 100) : sizeof(KSSTREAM_HEADER);
    winsim::CompleteReadRaw(path, delivery.frame, dataUsed, bytesReturned);
    reading = WaitForRead(path);
  }
  if (input) Destroy(input);
  if (output) Destroy(output);
}

// Topology nodes are listed only when asked: through the layer itself.
void ListNodes(const std::string& path) {
  HRESULT hr = S_OK;
  CKsFilter* filter = new CKsFilter(path.c_str(), &hr);
  if (SUCCEEDED(hr) && SUCCEEDED(filter->Instantiate())) filter->EnumerateNodes();
  DropReference(filter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  winsim::Reset();
  winsim::InterfaceDesc desc;
  desc.friendlyName = winsim::FriendlyNameValue("Tarrowin MIDI");
  if (in.ConsumeBool()) desc.friendlyName = Bytes(in, 300);
  desc.filter = Filter(in);
  winsim::DeviceId id = winsim::PlugDevice({"USB\\VID_1A86&PID_0A3C&MI_00\\7&1C2D3E4F&0&0000", {desc}});
  const std::string path = winsim::InterfacePath(id);

  TarrowinHiddenMIDI::Connection* connection = VODICreate(nullptr, nullptr);
  if (connection->GetDeviceCount() > 1) Fail("one interface counted as several devices");
  if (TarrowinHiddenMIDI::Device* device = connection->CreateDevice(0)) {
    if (std::strlen(device->GetName()) > 259) Fail("a name longer than its field");
    Stream(in, device, path);
    Destroy(device);
  }
  ListNodes(path);
  VODIDestroy(connection);
  if (winsim::LiveHandleCount() != 0) Fail("a handle leaked");
  if (winsim::PendingRequestCount() != 0) Fail("a request is still pending after everything was destroyed");
  return 0;
}
