// The filter: its name, opening, pin enumeration and classification, topology nodes and
// teardown, against the simulated driver.
#include <doctest/doctest.h>

#include <cstring>

#include "ks/pin.h"
#include "ks_support.h"
#include "support/machine.h"

namespace {

winsim::PinFactoryDesc Pin(ULONG dataFlow, ULONG communication) {
  return winsim::MidiPinFactory(KSDATAFORMAT_SUBTYPE_MIDI, dataFlow, communication);
}

std::vector<ULONG> PinIds(const TList<CKsPin>& list) {
  std::vector<ULONG> ids;
  for (auto* node = list.m_pHead; node != nullptr; node = node->pNext) ids.push_back(node->pData->m_nId);
  return ids;
}

std::vector<ULONG> NodeIds(const TList<CKsNode>& list) {
  std::vector<ULONG> ids;
  for (auto* node = list.m_pHead; node != nullptr; node = node->pNext) ids.push_back(node->pData->m_ulNodeId);
  return ids;
}

std::vector<BYTE> NodesAnswer(ULONG size, ULONG count, size_t guids) {
  return kstest::MultipleItem(size, count, std::vector<BYTE>(guids * sizeof(GUID), 0xAB));
}

const char kNotViable[] = "Filter is not viable. It has no pins.";
const ULONG kUntouchedValue = 77;

}  // namespace

TEST_CASE("the constructor copies the name bounded, terminated and whole double-byte characters only") {
  testing::Machine machine;
  struct Case {
    const char* what;
    UINT codePage;
    std::string name;
    size_t copied;
  };
  std::string dbcsAtEnd = std::string(258, 'a') + "\x81\x40";
  // Trail bytes in the ASCII range: only a walk from the start tells where characters begin.
  std::string dbcsPairs;
  for (int i = 0; i < 131; ++i) dbcsPairs += "\x81\x61";
  for (const Case& c : {Case{"short", 1252, "\\\\?\\usb#vid_1a2b", 16}, Case{"259 bytes", 1252, std::string(259, 'a'), 259},
                        Case{"longer than the buffer", 1252, std::string(300, 'a'), 259},
                        Case{"lead byte in the last place, single-byte code page", 1252, dbcsAtEnd, 259},
                        Case{"lead byte in the last place, double-byte code page", 932, dbcsAtEnd, 258},
                        Case{"double-byte character inside", 932, "\x81\x40z", 3},
                        Case{"double-byte characters past the buffer", 932, dbcsPairs, 258}}) {
    CAPTURE(c.what);
    winsim::SetAnsiCodePage(c.codePage);
    HRESULT hr = E_FAIL;
    kstest::FilterPtr filter(new CKsFilter(c.name.c_str(), &hr));
    CHECK(hr == S_OK);
    CHECK(std::memcmp(filter->m_szFilterName, c.name.data(), c.copied) == 0);
    CHECK(std::all_of(filter->m_szFilterName + c.copied, filter->m_szFilterName + MAX_PATH, [](char b) { return b == 0; }));
    CHECK(filter->m_handle == INVALID_HANDLE_VALUE);
    CHECK(filter->m_szFriendlyName[0] == 0);
  }
}

TEST_CASE("only a name cut at the bound asks about lead bytes, and only about bytes of 0x80 and above") {
  testing::Machine machine;
  winsim::SetAnsiCodePage(932);
  struct Case {
    std::string name;
    uint64_t questions;
  };
  for (const Case& c : {Case{std::string(259, '\x81'), 0}, Case{std::string(300, 'a'), 0},
                        Case{std::string(250, 'a') + std::string(50, '\x81'), 5}}) {
    CAPTURE(c.name.size());
    winsim::ResetCallCounts();
    HRESULT hr = E_FAIL;
    kstest::FilterPtr filter(new CKsFilter(c.name.c_str(), &hr));
    CHECK(winsim::CallCounts()["IsDBCSLeadByte"] == c.questions);
  }
}

TEST_CASE("a filter made without a name reports E_INVALIDARG and is still complete") {
  testing::Machine machine;
  HRESULT hr = S_OK;
  kstest::FilterPtr filter(new CKsFilter(nullptr, &hr));
  CHECK(hr == E_INVALIDARG);
  CHECK(filter->m_szFilterName[0] == 0);
  std::vector<std::string> expected = {"pszName cannot be NULL"};
  if (kstest::Verbose()) {
    expected = {"CKsIrpTarget::CKsIrpTarget() Enter", "CKsIrpTarget::CKsIrpTarget() Leave",
                "CKsFilter::CKsFilter() Enter", "CKsFilter::InternalInit() Enter",
                "CKsFilter::InternalInit Leave, returning 00000000", "pszName cannot be NULL",
                "CKsFilter::CKsFilter Leave, returning 0x80070057"};
  }
  CHECK(kstest::Lines() == expected);
}

TEST_CASE("a filter that cannot be opened reports the path and the error") {
  testing::Machine machine;
  const char path[] = "\\\\?\\usb#vid_1a2b&pid_0000#gone#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";
  HRESULT hr = E_FAIL;
  kstest::FilterPtr filter(new CKsFilter(path, &hr));
  CHECK(filter->Instantiate() == E_FAIL);
  CHECK(filter->m_handle == INVALID_HANDLE_VALUE);
  CHECK(kstest::Messages() == std::vector<std::string>{std::string("CKsFilter::Instantiate: CreateFile failed for device ") +
                                                       path + ".  ErrorCode = 0x00000003"});
}

TEST_CASE("pins are sorted by data flow and communication; BOTH goes into two lists") {
  testing::Machine machine;
  winsim::FilterDesc desc;
  desc.pins = {Pin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK),    Pin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SINK),
               Pin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SOURCE),  Pin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_SOURCE),
               Pin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_BOTH),    Pin(KSPIN_DATAFLOW_OUT, KSPIN_COMMUNICATION_BOTH),
               Pin(0, KSPIN_COMMUNICATION_SINK),                    Pin(3, KSPIN_COMMUNICATION_SOURCE),
               Pin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_NONE),    Pin(KSPIN_DATAFLOW_OUT, 4),
               // Values no published enumerator names (and that an enum could not hold).
               Pin(4, KSPIN_COMMUNICATION_SINK),                    Pin(KSPIN_DATAFLOW_IN, 8)};
  auto filter = kstest::OpenFilter(kstest::PlugFilter(desc));
  CHECK(filter->EnumeratePins() == S_OK);
  CHECK(PinIds(filter->m_listPins) == std::vector<ULONG>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  CHECK(PinIds(filter->m_listRenderSinkPins) == std::vector<ULONG>{0, 4});
  CHECK(PinIds(filter->m_listCaptureSinkPins) == std::vector<ULONG>{1, 5, 6, 10});
  CHECK(PinIds(filter->m_listRenderSourcePins) == std::vector<ULONG>{2, 4});
  CHECK(PinIds(filter->m_listCaptureSourcePins) == std::vector<ULONG>{3, 5, 7});
  CHECK(PinIds(filter->m_listNoCommPins) == std::vector<ULONG>{8});
  CHECK(kstest::Messages() == kstest::Expected({{TRACE_COMMUNICATION, "Pin communication type not recognized"},
                                                {TRACE_COMMUNICATION, "Pin communication type not recognized"}}));
}

TEST_CASE("a filter is viable only with a pin in one of the five classified lists") {
  struct Case {
    const char* what;
    winsim::FilterDesc desc;
    bool failCount;
    HRESULT hr;
    size_t pins;
  };
  winsim::FilterDesc unrecognised;
  unrecognised.pins = {Pin(KSPIN_DATAFLOW_IN, 4), Pin(KSPIN_DATAFLOW_OUT, 7)};
  for (const Case& c : {Case{"no pin factories", winsim::FilterDesc{}, false, E_FAIL, 0},
                        Case{"pin count query fails", winsim::HiddenMidiFilter(KSDATAFORMAT_SUBTYPE_HIDDEN_MIDI_2), true, E_FAIL, 0},
                        Case{"unrecognised communication only", unrecognised, false, E_FAIL, 2},
                        Case{"NONE pins only", winsim::NoCommunicationMidiFilter(), false, S_OK, 2},
                        Case{"pins that answer nothing", winsim::UnansweringFilter(2), false, S_OK, 2}}) {
    CAPTURE(c.what);
    testing::Machine machine;  // per row: each row checks its own handles
    std::string path = kstest::PlugFilter(c.desc);
    auto filter = kstest::OpenFilter(path);
    if (c.failCount) winsim::FailRequests({path, IOCTL_KS_PROPERTY, KSPROPSETID_Pin, ULONG{KSPROPERTY_PIN_CTYPES}}, ERROR_GEN_FAILURE);
    winsim::ClearDebugOutput();
    CHECK(filter->EnumeratePins() == c.hr);
    CHECK(static_cast<size_t>(filter->m_listPins.m_lCount) == c.pins);
    std::vector<std::string> messages = kstest::Messages();
    // Unrecognised communication is written at level 5, pins that answer nothing at level 3.
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [](const std::string& m) { return m != kNotViable; }),
                   messages.end());
    CHECK(messages == (c.hr == E_FAIL ? std::vector<std::string>{kNotViable} : std::vector<std::string>{}));
  }
}

TEST_CASE("a pin that cannot be made or listed is skipped with its message") {
  struct Case {
    const char* what;
    int skip;
    const char* message;
  };
  winsim::FilterDesc desc;
  desc.pins = {Pin(KSPIN_DATAFLOW_IN, KSPIN_COMMUNICATION_SINK)};
  // The pin object comes first, then its three descriptor blocks, then its list entry.
  for (Case c : {Case{"pin object", 0, "Failed to create pin"}, Case{"list entry", 4, "Failed to add pin to list"}}) {
    CAPTURE(c.what);
    testing::Machine machine;  // per row: each row checks its own handles
    auto filter = kstest::OpenFilter(kstest::PlugFilter(desc));
    winsim::ClearDebugOutput();
    winsim::FailAllocations(1, c.skip);
    CHECK(filter->EnumeratePins() == E_FAIL);
    winsim::FailAllocations(0);
    CHECK(filter->m_listPins.m_lCount == 0);
    CHECK(kstest::Messages() == std::vector<std::string>{c.message, kNotViable});
  }
}

TEST_CASE("EnumerateNodes lists the node types of the last answer and never reads past it") {
  struct Case {
    const char* what;
    std::optional<std::vector<BYTE>> raw;
    HRESULT hr;
    size_t nodes;
  };
  const ULONG kTwo = sizeof(KSMULTIPLE_ITEM) + 2 * sizeof(GUID);
  for (const Case& c : {Case{"two nodes", std::nullopt, S_OK, 2}, Case{"empty answer", std::vector<BYTE>{}, S_OK, 0},
                        Case{"no nodes", NodesAnswer(sizeof(KSMULTIPLE_ITEM), 0, 0), S_OK, 0},
                        Case{"Count beyond the bytes", NodesAnswer(kTwo, 5, 2), E_FAIL, 0},
                        Case{"Size beyond the bytes", NodesAnswer(0xFFFF0000, 3, 2), E_FAIL, 0},
                        Case{"Size short of Count", NodesAnswer(kTwo - 1, 2, 2), E_FAIL, 0},
                        Case{"shorter than its header", std::vector<BYTE>(4, 0), E_FAIL, 0}}) {
    CAPTURE(c.what);
    testing::Machine machine;  // per row: each row checks its own handles
    winsim::FilterDesc desc = winsim::OrdinaryAudioFilter(false);
    desc.rawNodes = c.raw;
    auto filter = kstest::OpenFilter(kstest::PlugFilter(desc));
    // The second call replaces what the first one listed.
    filter->EnumerateNodes();
    CHECK(filter->EnumerateNodes() == c.hr);
    CHECK(NodeIds(filter->m_listNodes).size() == c.nodes);
    if (c.nodes == 2) {
      CHECK(NodeIds(filter->m_listNodes) == std::vector<ULONG>{0, 1});
      CKsNode* second = filter->m_listNodes.m_pTail->pData;
      CHECK(second->m_guidType == KSNODETYPE_VOLUME);
      CHECK(std::memcmp(&second->m_ulTag, "NONE", 4) == 0);
    }
    CHECK(kstest::Messages().empty());
  }
}

TEST_CASE("a failed node query empties the node list and is written at level 4") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(winsim::OrdinaryAudioFilter(false));
  auto filter = kstest::OpenFilter(path);
  REQUIRE(filter->EnumerateNodes() == S_OK);
  REQUIRE(filter->m_listNodes.m_lCount == 2);
  winsim::FailRequests({path, IOCTL_KS_PROPERTY, KSPROPSETID_Topology}, ERROR_GEN_FAILURE);
  CHECK(filter->EnumerateNodes() == E_FAIL);
  CHECK(filter->m_listNodes.m_lCount == 0);
  CHECK(kstest::Messages() ==
        kstest::Expected({{TRACE_TOPOLOGY, "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES"}}));
}

TEST_CASE("destroying a filter destroys its pins and closes its handle; an unopened one closes nothing") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(kstest::MidiPort());
  {
    auto unopened = kstest::ConstructedFilter(path);
    winsim::ClearDebugOutput();
  }
  if (kstest::Verbose()) {
    auto lines = kstest::Lines();
    CHECK(lines.front() == "CKsFilter::~CKsFilter() Enter");
    CHECK(lines.back() == "CKsFilter::~CKsFilter Leave, returning 00000000");
  }
  CHECK(winsim::Assertions().empty());
  CHECK(winsim::InterfaceOpenCounts(path).filterOpens == 0);

  auto filter = kstest::OpenFilter(path);
  REQUIRE(filter->EnumeratePins() == S_OK);
  REQUIRE(filter->EnumerateNodes() == S_OK);
  CKsPin* render = filter->m_listRenderSinkPins.m_pHead->pData;
  kstest::ConnectRequest request = kstest::ConnectRequestFor(*render);
  REQUIRE(render->SetPinConnect(&request.connect, sizeof request) == S_OK);
  REQUIRE(render->Instantiate(FALSE) == S_OK);
  filter.reset();
  winsim::OpenCounts counts = winsim::InterfaceOpenCounts(path);
  CHECK(counts.filterCloses == 1);
  CHECK(counts.pinCloses == 1);
  CHECK(winsim::PinInstances(path)[0].stateRequests == std::vector<KSSTATE>{KSSTATE_STOP});
}

TEST_CASE("pin property requests: an unopened filter fails and an empty value still hands over a buffer") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(kstest::MidiPort());
  auto unopened = kstest::ConstructedFilter(path);
  winsim::ClearDebugOutput();
  ULONG value = kUntouchedValue;
  CHECK(unopened->GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &value, sizeof value) == E_FAIL);
  CHECK(value == kUntouchedValue);

  winsim::FilterDesc desc = kstest::MidiPort();
  desc.pins[0].rawAnswers[KSPROPERTY_PIN_MEDIUMS] = {};
  std::string emptyPath = kstest::PlugFilter(desc, "USB\\VID_1A2B&PID_0A3C\\EMPTY");
  auto filter = kstest::OpenFilter(emptyPath);
  std::unique_ptr<BYTE[]> item;
  ULONG cbBlock = kUntouchedValue;
  // Both requests reach the driver: the second one with an output size of 0.
  winsim::FailRequests({emptyPath, IOCTL_KS_PROPERTY, KSPROPSETID_Pin, ULONG{KSPROPERTY_PIN_MEDIUMS}}, ERROR_GEN_FAILURE, 1, 1);
  CHECK(filter->GetPinPropertyMulti(0, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, &item, &cbBlock) == E_FAIL);
  REQUIRE(item != nullptr);
  CHECK(cbBlock == 0);
  item.reset();
  CHECK(filter->GetPinPropertyMulti(0, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, &item) == S_OK);
  CHECK(item != nullptr);
  if (kstest::Verbose()) {
    auto lines = kstest::Lines();
    CHECK(lines.front() == "CKsFilter::GetPinPropertySimple() Enter");
    CHECK(lines.back() == "CKsFilter::GetPinPropertyMulti Leave, returning 00000000");
  }
}
