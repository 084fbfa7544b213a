// The MIDI filter and MIDI pin: which pins become MIDI pins, FindPin, the connection request
// byte for byte, and the stream requests as the ports send them.
#include <doctest/doctest.h>

#include <cstring>

#include "ks/matchers.h"
#include "ks/midi_filter.h"
#include "ks/midi_pin.h"
#include "ks/midi_stream.h"
#include "ks_support.h"
#include "support/machine.h"

namespace {

constexpr bool k64 = sizeof(void*) == 8;

// Puts the default matcher back when a test installed another one.
struct MatcherScope {
  explicit MatcherScope(DataRangeMatcher matcher) { SetDataRangeMatcher(matcher); }
  ~MatcherScope() { SetDataRangeMatcher(IsMidiPortDataRange); }
};

// A hidden port, taken for MIDI by the hidden-port matcher, with its MIDI filter open.
struct HiddenMidiPort {
  testing::Machine machine;
  MatcherScope hidden{IsHiddenMidiDataRange};
  std::string path = kstest::PlugFilter(kstest::MidiPort());
  KsRef<CKsMidiFilter> filter = kstest::OpenFilter<CKsMidiFilter>(path);
};

// The first pin of a type on a hidden port, instantiated and running.
CKsPin* RunningPin(CKsMidiFilter& filter, ULONG type) {
  REQUIRE(filter.EnumeratePins() == S_OK);
  CKsPin* pin = filter.FindPin(type, 0);
  REQUIRE(pin != nullptr);
  REQUIRE(pin->Instantiate(FALSE) == S_OK);
  for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) REQUIRE(pin->SetState(state) == S_OK);
  return pin;
}

winsim::FilterDesc OneMidiPinFactory() {
  winsim::FilterDesc desc;
  desc.pins.push_back(winsim::MidiPinFactory(KSDATAFORMAT_SUBTYPE_MIDI, KSPIN_DATAFLOW_IN));
  return desc;
}

template <typename T>
void Put(std::vector<BYTE>& bytes, size_t offset, const T& value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

}  // namespace

TEST_CASE("the matcher in force decides which pin factories become MIDI pins") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(OneMidiPinFactory());
  {
    auto filter = kstest::OpenFilter<CKsMidiFilter>(path);
    CHECK(filter->EnumeratePins() == S_OK);
    REQUIRE(filter->m_listPins.m_lCount == 1);
    CHECK(dynamic_cast<CKsMidiPin*>(filter->m_listPins.m_pHead->pData) != nullptr);
    CHECK(filter->FindPin(CKsMidiFilter::kRenderPin, 0) == filter->m_listPins.m_pHead->pData);
  }
  MatcherScope hidden(IsHiddenMidiDataRange);
  auto filter = kstest::OpenFilter<CKsMidiFilter>(path);
  winsim::ClearDebugOutput();
  CHECK(filter->EnumeratePins() == E_FAIL);
  CHECK(filter->m_listPins.m_lCount == 0);
  CHECK(kstest::Messages().empty());
}

TEST_CASE("FindPin takes render-sink pins for type 1 and capture-sink pins for any other type") {
  testing::Machine machine;
  MatcherScope hidden(IsHiddenMidiDataRange);
  winsim::FilterDesc desc = winsim::OrdinaryAudioFilter(false);
  winsim::FilterDesc port = winsim::HiddenMidiFilter(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_2);
  desc.pins.insert(desc.pins.end(), port.pins.begin(), port.pins.end());
  auto filter = kstest::OpenFilter<CKsMidiFilter>(kstest::PlugFilter(desc));
  REQUIRE(filter->EnumeratePins() == S_OK);
  REQUIRE(filter->m_listPins.m_lCount == 2);
  struct Case {
    ULONG type;
    ULONG index;
    int pinId;  // -1: none
  };
  for (Case c : {Case{1, 0, 1}, Case{1, 1, -1}, Case{2, 0, 2}, Case{2, 1, -1}, Case{0, 0, 2}, Case{7, 0, 2}}) {
    CAPTURE(c.type);
    CAPTURE(c.index);
    CKsPin* pin = filter->FindPin(c.type, c.index);
    if (c.pinId < 0) {
      CHECK(pin == nullptr);
    } else {
      REQUIRE(pin != nullptr);
      CHECK(pin->m_nId == static_cast<ULONG>(c.pinId));
    }
  }
}

TEST_CASE("a MIDI filter without a usable MIDI pin fails without a message") {
  struct Case {
    const char* what;
    winsim::FilterDesc desc;
    bool failCount;
    HRESULT hr;
    LONG pins;
  };
  for (const Case& c : {Case{"no pin factories", winsim::FilterDesc{}, false, E_FAIL, 0},
                        Case{"pin count query fails", OneMidiPinFactory(), true, E_FAIL, 0},
                        Case{"NONE pins only", winsim::NoCommunicationMidiFilter(), false, E_FAIL, 2},
                        Case{"no MIDI pin", winsim::OrdinaryAudioFilter(false), false, E_FAIL, 0}}) {
    CAPTURE(c.what);
    testing::Machine machine;  // per row: each row checks its own handles
    std::string path = kstest::PlugFilter(c.desc);
    auto filter = kstest::OpenFilter<CKsMidiFilter>(path);
    if (c.failCount) winsim::FailRequests({path, IOCTL_KS_PROPERTY, KSPROPSETID_Pin, ULONG{KSPROPERTY_PIN_CTYPES}}, ERROR_GEN_FAILURE);
    winsim::ClearDebugOutput();
    CHECK(filter->EnumeratePins() == c.hr);
    CHECK(filter->m_listPins.m_lCount == c.pins);
    CHECK(filter->m_listNoCommPins.m_lCount == c.pins);
    CHECK(kstest::Messages().empty());
  }
}

TEST_CASE("a failing data-range query ends the enumeration at once, with no classification") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(winsim::OrdinaryAudioFilter(true));
  auto filter = kstest::OpenFilter<CKsMidiFilter>(path);
  winsim::FailRequests({path, IOCTL_KS_PROPERTY, KSPROPSETID_Pin, ULONG{KSPROPERTY_PIN_DATARANGES}, ULONG{2}},
                       ERROR_GEN_FAILURE, -1, 1);  // the size query passes, the value request fails
  CHECK(filter->EnumeratePins() == E_FAIL);
  CHECK(filter->m_listPins.m_lCount == 1);
  CHECK(filter->m_listRenderSinkPins.m_lCount == 0);
}

TEST_CASE("out of memory while making a MIDI pin fails the enumeration only at the last pin id") {
  // Per pin id: its data ranges; for a MIDI pin then the pin, its three blocks and its list entry.
  struct Case {
    const char* what;
    int skip;
    HRESULT hr;
    LONG pins;
    const char* message;
  };
  for (Case c : {Case{"first pin object", 1, S_OK, 1, "Failed to create MIDI pin"},
                 Case{"last pin object", 7, E_OUTOFMEMORY, 1, "Failed to create MIDI pin"},
                 Case{"last list entry", 11, E_OUTOFMEMORY, 1, "Unable to allocate list entry to save pin in"}}) {
    CAPTURE(c.what);
    testing::Machine machine;  // per row: each row checks its own handles
    auto filter = kstest::OpenFilter<CKsMidiFilter>(kstest::PlugFilter(kstest::MidiPort()));
    MatcherScope hidden(IsHiddenMidiDataRange);
    winsim::ClearDebugOutput();
    winsim::FailAllocations(1, c.skip);
    CHECK(filter->EnumeratePins() == c.hr);
    winsim::FailAllocations(0);
    CHECK(filter->m_listPins.m_lCount == c.pins);
    CHECK(kstest::Messages() == std::vector<std::string>{c.message});
  }
}

TEST_CASE("data ranges that do not fit their answer are matched only as far as they lie") {
  std::vector<BYTE> midi = winsim::MusicDataRange(KSDATAFORMAT_SUBTYPE_MIDI);
  const ULONG kWhole = static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + midi.size());
  struct Case {
    const char* what;
    std::vector<BYTE> answer;
    LONG pins;
  };
  // A driver built with 4-byte packing: KSDATARANGE_MUSIC without its tail padding.
  std::vector<BYTE> packed(midi.begin(), midi.begin() + 92);
  reinterpret_cast<KSDATARANGE*>(packed.data())->FormatSize = 92;
  auto cut = [&](size_t bytes) { return std::vector<BYTE>(midi.begin(), midi.begin() + static_cast<long>(bytes)); };
  using kstest::MultipleItem;
  for (const Case& c : {Case{"Count beyond the bytes", MultipleItem(kWhole, 1000, midi), 1},
                        Case{"Size beyond the bytes", MultipleItem(0xFFFFFF00, 2, midi), 1},
                        Case{"a 92-byte range from 4-byte packing", MultipleItem(8 + 92, 1, packed), 1},
                        Case{"Size short of the range it carries", MultipleItem(kWhole - 40, 1, midi), 1},
                        Case{"Size of the header alone", MultipleItem(8, 1, midi), 1},
                        Case{"range cut short after the 80 bytes a matcher reads", MultipleItem(kWhole, 1, cut(80)), 1},
                        Case{"range cut short within them", MultipleItem(kWhole, 1, cut(79)), 0},
                        Case{"shorter than its header", std::vector<BYTE>(5, 0xFF), 0}}) {
    CAPTURE(std::string(c.what));
    testing::Machine machine;  // per row: each row checks its own handles
    winsim::FilterDesc desc = OneMidiPinFactory();
    desc.pins[0].rawAnswers[KSPROPERTY_PIN_DATARANGES] = c.answer;
    auto filter = kstest::OpenFilter<CKsMidiFilter>(kstest::PlugFilter(desc));
    CHECK(filter->EnumeratePins() == (c.pins ? S_OK : E_FAIL));
    CHECK(filter->m_listPins.m_lCount == c.pins);
    // A range listed whole inside the block is also the one the pin connects with.
    if (filter->m_listPins.m_lCount == 1 && c.answer.size() >= kWhole - 4)
      CHECK(filter->m_listPins.m_pHead->pData->m_cDataRanges == 1);
  }
}

TEST_CASE("the MIDI connection request, byte for byte") {
  testing::Machine machine;
  winsim::FilterDesc desc = kstest::MidiPort();
  desc.pins[1].dataRanges.insert(desc.pins[1].dataRanges.begin(), winsim::MusicDataRange(KSDATAFORMAT_SUBTYPE_MIDI));
  auto filter = kstest::OpenFilter<CKsMidiFilter>(kstest::PlugFilter(desc));
  REQUIRE(filter->EnumeratePins() == S_OK);
  auto* pin = static_cast<CKsMidiPin*>(filter->FindPin(CKsMidiFilter::kCapturePin, 0));
  REQUIRE(pin != nullptr);

  const size_t kConnect = k64 ? 72 : 64;
  REQUIRE(sizeof(MidiConnectRequest) == (k64 ? 136u : 128u));
  std::vector<BYTE> expected(kConnect + 64, 0);
  Put(expected, 0, KSINTERFACESETID_Standard);
  Put(expected, 24, KSMEDIUMSETID_Standard);
  Put(expected, 48, ULONG{1});                                    // PinId
  Put(expected, k64 ? 64 : 56, ULONG{0x40000000});                // KSPRIORITY_NORMAL
  Put(expected, k64 ? 68 : 60, ULONG{1});                         // PrioritySubClass
  Put(expected, kConnect, ULONG{64});                             // FormatSize
  Put(expected, kConnect + 16, KSDATAFORMAT_TYPE_MUSIC);
  Put(expected, kConnect + 32, KSDATAFORMAT_SUBTYPE_MIDI);        // the first range, not the one matched
  Put(expected, kConnect + 48, KSDATAFORMAT_SPECIFIER_NONE);

  std::vector<BYTE> built(sizeof(MidiConnectRequest), 0);
  pin->BuildConnect(reinterpret_cast<MidiConnectRequest*>(built.data()));
  CHECK(built == expected);
}

TEST_CASE_FIXTURE(HiddenMidiPort, "a MIDI pin instantiated against the driver runs; without a range or memory it is not made") {
  REQUIRE(filter->EnumeratePins() == S_OK);
  CKsPin* render = filter->FindPin(CKsMidiFilter::kRenderPin, 0);
  REQUIRE(render != nullptr);

  winsim::FailAllocations(1);
  CHECK(render->Instantiate(FALSE) == E_OUTOFMEMORY);
  winsim::FailAllocations(0);
  CHECK(render->Instantiate(FALSE) == S_OK);
  for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) CHECK(render->SetState(state) == S_OK);
  auto pins = winsim::PinInstances(path);
  REQUIRE(pins.size() == 1);
  CHECK(pins[0].state == KSSTATE_RUN);
  CHECK(pins[0].connect.Priority.PriorityClass == KSPRIORITY_NORMAL);
  CHECK(pins[0].format.SubFormat == KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_1);

  // A pin whose data ranges could not be read has no format to ask for.
  HRESULT hr = E_FAIL;
  winsim::FailRequests({path, IOCTL_KS_PROPERTY, KSPROPSETID_Pin, ULONG{KSPROPERTY_PIN_DATARANGES}}, ERROR_GEN_FAILURE);
  CKsMidiPin blind(filter.get(), 1, &hr);
  CHECK(hr == S_FALSE);
  CHECK(blind.Instantiate(FALSE) == E_FAIL);
  CHECK(winsim::PinInstances(path).size() == 1);
}

TEST_CASE_FIXTURE(HiddenMidiPort, "writes are prepared once and carry at most 640 bytes each, DataUsed always 12") {
  CKsPin* render = RunningPin(*filter.get(), CKsMidiFilter::kRenderPin);

  KSSTREAM_HEADER header;
  BYTE buffer[kMidiWriteBufferSize] = {};
  PrepareMidiWriteHeader(&header, buffer);
  CHECK(header.Size == (k64 ? 56u : 48u));
  CHECK(header.TypeSpecificFlags == 0);
  CHECK(header.PresentationTime.Time == 0);
  CHECK(header.PresentationTime.Numerator == 1);
  CHECK(header.PresentationTime.Denominator == 1);
  CHECK(header.Duration == 0);
  CHECK(header.FrameExtent == 652);
  CHECK(header.DataUsed == 12);
  CHECK(header.Data == buffer);
  CHECK(header.OptionsFlags == 0);

  std::vector<BYTE> bytes(1300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  for (size_t sent = 0; sent < bytes.size();) {
    sent += FillMidiWriteEvent(buffer, bytes.data() + sent, static_cast<ULONG>(bytes.size() - sent));
    REQUIRE(render->WriteData(&header, &overlapped) == S_OK);
    REQUIRE(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0);
  }
  auto writes = winsim::CapturedWrites(path);
  REQUIRE(writes.size() == 3);
  std::vector<BYTE> received;
  for (size_t i = 0; i < writes.size(); ++i) {
    CAPTURE(i);
    CHECK(writes[i].byteCount == (i < 2 ? 640u : 20u));
    CHECK(writes[i].timeDeltaMs == 0);
    CHECK(writes[i].event == overlapped.hEvent);
    CHECK(writes[i].header.DataUsed == 12);
    CHECK(writes[i].header.FrameExtent == 652);
    received.insert(received.end(), writes[i].bytes.begin(), writes[i].bytes.end());
  }
  CHECK(received == bytes);
  CloseHandle(overlapped.hEvent);
  // Bytes past the last ByteCount keep what the longer write before it left there.
  CHECK(buffer[8 + 20] == bytes[640 + 20]);
  CHECK(buffer[648] == 0);
}

TEST_CASE_FIXTURE(HiddenMidiPort, "a completed read delivers ByteCount bytes from offset 8, never more than the frame holds") {
  CKsPin* capture = RunningPin(*filter.get(), CKsMidiFilter::kCapturePin);

  KSSTREAM_HEADER header;
  BYTE buffer[kMidiReadBufferSize] = {};
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  PrepareMidiReadHeader(&header, buffer);
  CHECK(header.FrameExtent == 20);
  CHECK(header.DataUsed == 0);
  CHECK(header.Data == buffer);
  REQUIRE(capture->ReadData(&header, &overlapped) == S_OK);
  winsim::ReceiveMidi(path, {0x80, 0x3C, 0x40});
  REQUIRE(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0);
  CloseHandle(overlapped.hEvent);
  REQUIRE(MidiReadByteCount(buffer) == 3);
  CHECK(std::vector<BYTE>(MidiReadBytes(buffer), MidiReadBytes(buffer) + 3) == std::vector<BYTE>{0x80, 0x3C, 0x40});

  KSMUSICFORMAT lying{0xFFFFFFFF, 200};
  std::memcpy(buffer, &lying, sizeof lying);
  CHECK(MidiReadByteCount(buffer) == 12);
}
