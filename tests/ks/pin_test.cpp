// The pin: its description read from the filter, the connection request, the kernel pin made
// through ksuser.dll, its states, and stream reads and writes against the simulated driver.
#include <doctest/doctest.h>

#include <cstring>

#include "ks/pin.h"
#include "ks_support.h"
#include "support/machine.h"

namespace {

struct PinOnPort {
  std::string path;
  kstest::FilterPtr filter;
  std::unique_ptr<CKsPin> pin;

  explicit PinOnPort(ULONG pinId, const winsim::FilterDesc& desc = kstest::MidiPort()) {
    path = kstest::PlugFilter(desc);
    filter = kstest::OpenFilter(path);
    HRESULT hr = E_FAIL;
    pin.reset(new CKsPin(filter.get(), pinId, &hr));
    REQUIRE(SUCCEEDED(hr));
  }

  void Instantiate() {
    kstest::ConnectRequest request = kstest::ConnectRequestFor(*pin);
    REQUIRE(pin->SetPinConnect(&request.connect, sizeof request) == S_OK);
    REQUIRE(pin->Instantiate(FALSE) == S_OK);
  }

  void Run() {
    Instantiate();
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) REQUIRE(pin->SetState(state) == S_OK);
  }

  winsim::PinInstance Kernel(size_t index = 0) const {
    auto pins = winsim::PinInstances(path);
    REQUIRE(pins.size() > index);
    return pins[index];
  }
};

// One read or write request with its own header, buffer and event, as a port keeps them.
struct Stream {
  KSSTREAM_HEADER header{};
  BYTE data[40] = {};
  OVERLAPPED overlapped{};

  explicit Stream(ULONG frameExtent) {
    header.Size = sizeof header;
    header.PresentationTime.Numerator = 1;
    header.PresentationTime.Denominator = 1;
    header.FrameExtent = frameExtent;
    header.Data = data;
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  ~Stream() { CloseHandle(overlapped.hEvent); }
  bool Signalled(DWORD ms = 0) { return WaitForSingleObject(overlapped.hEvent, ms) == WAIT_OBJECT_0; }
  KSMUSICFORMAT Event() const {
    KSMUSICFORMAT event;
    std::memcpy(&event, data, sizeof event);
    return event;
  }
};

std::vector<BYTE> Utf16(const char* text) {
  std::vector<BYTE> bytes;
  for (; *text; ++text) bytes.insert(bytes.end(), {static_cast<BYTE>(*text), 0});
  return bytes;
}

const DWORD kStatusCancelled = 0xC0000120;
const DWORD kStatusDeviceNotConnected = 0xC000009D;

}  // namespace

TEST_CASE("a pin reads its whole description from the filter") {
  testing::Machine machine;
  winsim::FilterDesc desc = kstest::MidiPort();
  desc.pins[1].category = KSCATEGORY_CAPTURE;
  desc.pins[1].instances = {2, 1};
  desc.pins[1].globalInstances = {4, 3};
  PinOnPort port(1, desc);
  const CKsPin& pin = *port.pin;
  CHECK(pin.m_nCommunication == KSPIN_COMMUNICATION_SINK);
  CHECK(pin.m_nDataFlow == KSPIN_DATAFLOW_OUT);
  REQUIRE(pin.m_cInterfaces == 1);
  CHECK(pin.m_pInterfaces[0].Set == KSINTERFACESETID_Standard);
  REQUIRE(pin.m_cMediums == 1);
  CHECK(pin.m_pMediums[0].Set == KSMEDIUMSETID_Standard);
  REQUIRE(pin.m_cDataRanges == 1);
  CHECK(pin.m_pDataRanges[0].SubFormat == KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1);
  CHECK(pin.m_cInstances.PossibleCount == 2);
  CHECK(pin.m_cInstances.CurrentCount == 1);
  CHECK(pin.m_cGlobalInstances.PossibleCount == 4);
  CHECK(pin.m_guidCategory == KSCATEGORY_CAPTURE);
  std::vector<BYTE> name = Utf16("MIDI In");
  CHECK(std::memcmp(pin.m_abName, name.data(), name.size()) == 0);
  CHECK(pin.m_handle == INVALID_HANDLE_VALUE);
  CHECK(pin.m_pKsPinConnect == nullptr);
  CHECK(pin.m_lRefCount == 1);
  CHECK(kstest::Messages().empty());
}

TEST_CASE("a pin whose requests all fail is still made, with S_FALSE, zero fields and nine messages") {
  testing::Machine machine;
  winsim::FilterDesc desc = kstest::MidiPort();
  desc.pins[0].propertyError = ERROR_NOT_FOUND;
  std::string path = kstest::PlugFilter(desc);
  auto filter = kstest::OpenFilter(path);
  winsim::ClearDebugOutput();
  HRESULT hr = E_FAIL;
  CKsPin pin(filter.get(), 0, &hr);
  CHECK(hr == S_FALSE);
  CHECK(pin.m_nCommunication == 0);
  CHECK(pin.m_nDataFlow == 0);
  CHECK(pin.m_cInterfaces == 0);
  CHECK(pin.m_pInterfaces == nullptr);
  CHECK(pin.m_cMediums == 0);
  CHECK(pin.m_pMediums == nullptr);
  CHECK(pin.m_cDataRanges == 0);
  CHECK(pin.m_pDataRanges == nullptr);
  CHECK(pin.m_cInstances.PossibleCount == 0);
  CHECK(pin.m_cGlobalInstances.CurrentCount == 0);
  CHECK(pin.m_guidCategory == GUID_NULL);
  CHECK(std::all_of(std::begin(pin.m_abName), std::end(pin.m_abName), [](BYTE b) { return b == 0; }));
  std::vector<std::pair<int, std::string>> expected;
  for (const char* property :
       {"KSPROPERTY_PIN_COMMUNICATION", "KSPROPETY_PIN_INTERFACES", "KSPROPERTY_PIN_MEDIUMS",
        "KSPROPERTY_PIN_DATARANGES", "KSPROPERTY_PIN_DATAFLOW", "KSPROPERTY_PIN_CINSTANCES",
        "KSPROPERTY_PIN_GLOBALCINSTANCES", "KSPROPERTY_PIN_CATEGORY", "KSPROPERTY_PIN_NAME"})
    expected.emplace_back(TRACE_PIN_PROPERTY, std::string("Failed to retrieve pin property ") + property + " on PinID: 0");
  CHECK(kstest::Messages() == kstest::Expected(expected));
  if (kstest::Verbose()) {
    CHECK(kstest::Lines().back() == "CKsPin::CKsPin Leave, returning 0x000001");
  }
}

TEST_CASE("one failing descriptor request marks the result and leaves only its field empty") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(kstest::MidiPort());
  auto filter = kstest::OpenFilter(path);
  winsim::FailRequests({path, IOCTL_KS_PROPERTY, KSPROPSETID_Pin, ULONG{KSPROPERTY_PIN_MEDIUMS}}, ERROR_GEN_FAILURE);
  winsim::ClearDebugOutput();
  HRESULT hr = E_FAIL;
  CKsPin pin(filter.get(), 1, &hr);
  CHECK(hr == S_FALSE);
  CHECK(pin.m_cMediums == 0);
  CHECK(pin.m_cInterfaces == 1);
  CHECK(pin.m_cDataRanges == 1);
  CHECK(kstest::Messages() ==
        kstest::Expected({{TRACE_PIN_PROPERTY, "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: 1"}}));
}

TEST_CASE("a multiple-item answer whose Size or Count does not fit is counted only as far as it lies") {
  const ULONG kHeader = sizeof(KSMULTIPLE_ITEM);
  const ULONG kId = sizeof(KSIDENTIFIER);
  const ULONG kRange = sizeof(KSDATARANGE_MUSIC);
  struct Case {
    const char* what;
    std::vector<BYTE> answer;
    ULONG identifiers;
    ULONG ranges;
  };
  std::vector<BYTE> oneRange = winsim::MusicDataRange(KSDATAFORMAT_SUBTYPE_MIDI);
  auto withRange = [&](ULONG size, ULONG count, size_t bytes) {
    return kstest::MultipleItem(size, count, std::vector<BYTE>(oneRange.begin(), oneRange.begin() + static_cast<long>(bytes)));
  };
  for (const Case& c : {
           Case{"empty answer", {}, 0, 0},
           Case{"shorter than its header", std::vector<BYTE>(4, 0xFF), 0, 0},
           Case{"Count far beyond the bytes", withRange(kHeader + kRange, 1000, kRange), kRange / kId, 1},
           Case{"Size beyond the bytes", withRange(0xFFFFFFF0, 3, kRange), 3, 1},
           // Ranges are read up to the block, whatever Size says; fixed-size items up to Size.
           Case{"Size below its header", withRange(4, 1, kRange), 0, 1},
           Case{"range cut short", withRange(kHeader + 40, 1, 40), 40 / kId, 0},
           Case{"range longer than the answer", withRange(kHeader + 72, 1, 72), 1, 0},
       }) {
    CAPTURE(c.what);
    testing::Machine machine;  // per row: each row checks its own handles
    winsim::FilterDesc desc = kstest::MidiPort();
    for (ULONG id : {ULONG{KSPROPERTY_PIN_INTERFACES}, ULONG{KSPROPERTY_PIN_MEDIUMS}, ULONG{KSPROPERTY_PIN_DATARANGES}})
      desc.pins[0].rawAnswers[id] = c.answer;
    PinOnPort port(0, desc);
    const CKsPin& pin = *port.pin;
    CHECK(pin.m_cInterfaces == c.identifiers);
    CHECK(pin.m_cMediums == c.identifiers);
    CHECK(pin.m_cDataRanges == c.ranges);
    // Every counted item is read: the sanitizers see any that lies outside its block.
    ULONG sum = 0;
    for (ULONG i = 0; i < pin.m_cInterfaces; ++i) sum += pin.m_pInterfaces[i].Id + pin.m_pMediums[i].Id;
    for (ULONG i = 0; i < pin.m_cDataRanges; ++i) sum += pin.m_pDataRanges[i].FormatSize;
    CHECK(sum < 0xFFFFFFFF);
  }
}

TEST_CASE("SetPinConnect accepts a request of at least a KSPIN_CONNECT and keeps the old one otherwise") {
  testing::Machine machine;
  static_assert(sizeof(KSPIN_CONNECT) == (sizeof(void*) == 8 ? 72 : 64));
  PinOnPort port(0);
  CKsPin& pin = *port.pin;
  kstest::ConnectRequest request = kstest::ConnectRequestFor(pin);
  REQUIRE(pin.SetPinConnect(&request.connect, sizeof(KSPIN_CONNECT)) == S_OK);
  const BYTE* kept = pin.m_pKsPinConnect.get();
  REQUIRE(kept != nullptr);
  CHECK(kept != reinterpret_cast<const BYTE*>(&request.connect));
  CHECK(std::memcmp(kept, &request.connect, sizeof(KSPIN_CONNECT)) == 0);

  CHECK(pin.SetPinConnect(nullptr, sizeof request) == E_INVALIDARG);
  CHECK(pin.SetPinConnect(&request.connect, sizeof(KSPIN_CONNECT) - 1) == E_INVALIDARG);
  CHECK(pin.m_pKsPinConnect.get() == kept);

  winsim::FailAllocations(1);
  CHECK(pin.SetPinConnect(&request.connect, sizeof request) == E_OUTOFMEMORY);
  CHECK(pin.m_pKsPinConnect == nullptr);
}

TEST_CASE("Instantiate without a request creates nothing, and the pin's state cannot be set") {
  testing::Machine machine;
  PinOnPort port(0);
  winsim::ClearDebugOutput();
  CHECK(port.pin->Instantiate(FALSE) == S_OK);
  CHECK(port.pin->m_handle == INVALID_HANDLE_VALUE);
  CHECK(winsim::PinInstances(port.path).empty());
  if (kstest::Verbose()) CHECK(kstest::Lines() == std::vector<std::string>{"CKsPin::Instantiate() Enter"});
  winsim::ClearDebugOutput();
  CHECK(port.pin->SetState(KSSTATE_RUN) == E_FAIL);
  CHECK(kstest::Messages() == std::vector<std::string>{"CKsIrpTarget::SyncIoctl Invalid Handle", "Failed to Set Pin State"});
}

TEST_CASE("Instantiate turns KsCreatePin's error into an HRESULT") {
  struct Case {
    DWORD error;
    HRESULT hr;
    const char* message;
  };
  for (Case c : {Case{ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005), "Failed to instantiate pin. hr=0x80070005"},
                 Case{0x80070490, static_cast<HRESULT>(0x80070490), "Failed to instantiate pin. hr=0x80070490"},
                 Case{0x0001ABCD, static_cast<HRESULT>(0x8007ABCD), "Failed to instantiate pin. hr=0x8007abcd"}}) {
    CAPTURE(c.error);
    testing::Machine machine;  // per row: each row checks its own handles
    PinOnPort port(0);
    kstest::ConnectRequest request = kstest::ConnectRequestFor(*port.pin);
    REQUIRE(port.pin->SetPinConnect(&request.connect, sizeof request) == S_OK);
    winsim::FailCall("KsCreatePin", c.error, 1);
    winsim::ClearDebugOutput();
    CHECK(port.pin->Instantiate(FALSE) == c.hr);
    CHECK(kstest::Messages() == std::vector<std::string>{c.message});
    CHECK(winsim::PinInstances(port.path).empty());
  }
}

TEST_CASE("an instantiated pin connects as asked and steps through its states") {
  for (BOOL looped : {FALSE, TRUE}) {
    CAPTURE(looped);
    testing::Machine machine;  // per row: each row checks its own handles
    PinOnPort port(0);
    kstest::ConnectRequest request = kstest::ConnectRequestFor(*port.pin);
    REQUIRE(port.pin->SetPinConnect(&request.connect, sizeof request) == S_OK);
    REQUIRE(port.pin->Instantiate(looped) == S_OK);
    CHECK(CKsIrpTarget::IsValidHandle(port.pin->m_handle));
    winsim::PinInstance kernel = port.Kernel();
    CHECK(kernel.pinId == 0);
    CHECK(kernel.connect.Interface.Id == (looped ? 1u : 0u));
    CHECK(kernel.format.SubFormat == KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1);
    CHECK(kernel.state == KSSTATE_STOP);
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) CHECK(port.pin->SetState(state) == S_OK);
    CHECK(port.Kernel().state == KSSTATE_RUN);
    CHECK(winsim::InterfaceOpenCounts(port.path).pinOpens == 1);
  }
}

TEST_CASE("instantiating a live pin is refused and keeps the kernel pin it has") {
  testing::Machine machine;
  PinOnPort port(0);
  port.Instantiate();
  HANDLE live = port.pin->m_handle;
  winsim::ClearDebugOutput();
  CHECK(port.pin->Instantiate(FALSE) == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
  CHECK(port.pin->m_handle == live);
  CHECK(winsim::PinInstances(port.path).size() == 1);
  CHECK(kstest::Messages() == std::vector<std::string>{"Failed to instantiate pin. hr=0x800700b7"});
}

TEST_CASE("destroying a pin stops a live kernel pin with exactly one request and closes it") {
  struct Case {
    const char* what;
    bool instantiate;
    std::vector<KSSTATE> before;
  };
  for (const Case& c : {Case{"never instantiated", false, {}}, Case{"running", true, {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}},
                        Case{"already stopped", true, {KSSTATE_ACQUIRE, KSSTATE_STOP}}}) {
    CAPTURE(c.what);
    testing::Machine machine;  // per row: each row checks its own handles
    PinOnPort port(0);
    if (c.instantiate) port.Instantiate();
    for (KSSTATE state : c.before) REQUIRE(port.pin->SetState(state) == S_OK);
    port.pin.reset();
    auto pins = winsim::PinInstances(port.path);
    if (!c.instantiate) {
      CHECK(pins.empty());
    } else {
      REQUIRE(pins.size() == 1);
      std::vector<KSSTATE> expected = c.before;
      expected.push_back(KSSTATE_STOP);
      CHECK(pins[0].stateRequests == expected);
      CHECK_FALSE(pins[0].open);
    }
    CHECK(winsim::InterfaceOpenCounts(port.path).pinCloses == (c.instantiate ? 1 : 0));
  }
}

TEST_CASE("a read is queued before data arrives and completes with one event of at most the frame's room") {
  testing::Machine machine;
  PinOnPort port(1);
  port.Run();
  Stream first(20), second(20);
  CHECK(port.pin->ReadData(&first.header, &first.overlapped) == S_OK);
  CHECK_FALSE(first.Signalled());
  CHECK(port.Kernel().pendingReads == 1);

  std::vector<BYTE> bytes;
  for (BYTE b = 1; b <= 15; ++b) bytes.push_back(b);
  winsim::ReceiveMidi(port.path, bytes);
  REQUIRE(first.Signalled(5000));
  CHECK(first.Event().ByteCount == 12);
  CHECK(std::equal(bytes.begin(), bytes.begin() + 12, first.data + 8));
  CHECK(first.overlapped.Internal == 0);

  CHECK(port.pin->ReadData(&second.header, &second.overlapped) == S_OK);
  REQUIRE(second.Signalled(5000));
  CHECK(second.Event().ByteCount == 3);
  CHECK(std::equal(bytes.begin() + 12, bytes.end(), second.data + 8));
}

TEST_CASE("stream requests on a pin without a kernel pin fail with the invalid-handle error") {
  testing::Machine machine;
  PinOnPort port(1);
  Stream read(20);
  CHECK(port.pin->ReadData(&read.header, &read.overlapped) == E_FAIL);
  CHECK(port.pin->WriteData(&read.header, &read.overlapped) == E_FAIL);
  CHECK(kstest::Messages() == std::vector<std::string>{"DeviceIoControl Failed!  Error=0x00000006",
                                                       "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x0x000006"});
}

namespace {

struct ThreadRead {
  CKsPin* pin;
  Stream* stream;
  HANDLE finish;
};

DWORD WINAPI ReadThenWait(LPVOID parameter) {
  auto* args = static_cast<ThreadRead*>(parameter);
  args->pin->ReadData(&args->stream->header, &args->stream->overlapped);
  WaitForSingleObject(args->finish, 5000);
  return 0;
}

}  // namespace

TEST_CASE("CancelPendingIo cancels the calling thread's reads; a thread's reads end with it") {
  testing::Machine machine;
  PinOnPort port(1);
  port.Run();
  Stream theirs(20), mine(20);
  HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ThreadRead args{port.pin.get(), &theirs, finish};
  HANDLE thread = CreateThread(nullptr, 0, ReadThenWait, &args, 0, nullptr);
  REQUIRE(testing::WaitUntil([&] { return port.Kernel().pendingReads == 1; }));
  REQUIRE(port.pin->ReadData(&mine.header, &mine.overlapped) == S_OK);

  CHECK(port.pin->CancelPendingIo() == TRUE);
  REQUIRE(mine.Signalled(5000));
  CHECK(mine.overlapped.Internal == kStatusCancelled);
  CHECK_FALSE(theirs.Signalled());
  CHECK(port.Kernel().pendingReads == 1);

  SetEvent(finish);
  REQUIRE(WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0);
  REQUIRE(theirs.Signalled(5000));
  CHECK(theirs.overlapped.Internal == kStatusCancelled);
  CloseHandle(thread);
  CloseHandle(finish);
}

TEST_CASE("unplugging ends a pending read and fails the next one at once") {
  testing::Machine machine;
  PinOnPort port(1);
  port.Run();
  Stream pending(20), next(20);
  REQUIRE(port.pin->ReadData(&pending.header, &pending.overlapped) == S_OK);
  winsim::UnplugDevice(1);
  REQUIRE(pending.Signalled(5000));
  CHECK(pending.overlapped.Internal == kStatusDeviceNotConnected);
  DWORD transferred = 0;
  CHECK_FALSE(GetOverlappedResult(port.pin->m_handle, &pending.overlapped, &transferred, FALSE));
  CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
  winsim::ClearDebugOutput();
  CHECK(port.pin->ReadData(&next.header, &next.overlapped) == E_FAIL);
  CHECK(kstest::Messages() == std::vector<std::string>{"DeviceIoControl Failed!  Error=0x0000048f"});
}

TEST_CASE("the accessors hand out what was read; a missing out pointer is a broken invariant") {
  testing::Machine machine;
  PinOnPort port(1);
  ULONG communication = KSPIN_COMMUNICATION_NONE;
  ULONG dataFlow = KSPIN_DATAFLOW_IN;
  winsim::ClearDebugOutput();
  CHECK(port.pin->GetCommunication(&communication) == S_OK);
  CHECK(port.pin->GetDataFlow(&dataFlow) == S_OK);
  CHECK(communication == KSPIN_COMMUNICATION_SINK);
  CHECK(dataFlow == KSPIN_DATAFLOW_OUT);
  if (kstest::Verbose()) {
    CHECK(kstest::Lines() == std::vector<std::string>{"CKsPin::GetCommunication() Enter",
                                                      "CKsPin::GetCommunication Leave, returning 00000000",
                                                      "CKsPin::GetDataFlow() Enter",
                                                      "CKsPin::GetDataFlow Leave, returning 00000000"});
  }
  winsim::SetAssertionsFatal(false);
  port.pin->GetCommunication(nullptr);
  port.pin->GetDataFlow(nullptr);
  auto assertions = winsim::Assertions();
  REQUIRE(assertions.size() == 2);
  CHECK(assertions[0].starts_with("NULL != pCommunication|"));
  CHECK(assertions[1].starts_with("NULL != pDataFlow|"));
  CHECK(assertions[1].find("ks/pin") != std::string::npos);
}
