// The I/O-control target: handle validity and close, every outcome of SyncIoctl, and the two
// property operations built on it, with their messages.
#include <doctest/doctest.h>

#include <thread>

#include "ks/irptgt.h"
#include "ks_support.h"
#include "support/machine.h"

namespace {

const ULONG kUntouched = 77;

HANDLE OpenInterface(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  REQUIRE(handle != INVALID_HANDLE_VALUE);
  return handle;
}

KSP_PIN PinRequest(ULONG id, ULONG pinId = 0) {
  KSP_PIN request{};
  request.Property.Set = KSPROPSETID_Pin;
  request.Property.Id = id;
  request.Property.Flags = KSPROPERTY_TYPE_GET;
  request.PinId = pinId;
  return request;
}

// A target on a handle the test made; the handle goes with the object.
struct Target : CKsIrpTarget {
  explicit Target(HANDLE handle) : CKsIrpTarget(handle) {}
  ~Target() override { SafeCloseHandle(m_handle); }
};

struct Counted : CRefCountedObject {
  explicit Counted(bool* destroyed) : m_pDestroyed(destroyed) {}
  ~Counted() override { *m_pDestroyed = true; }
  bool* m_pDestroyed;
};

}  // namespace

TEST_CASE("IsValidHandle rejects exactly NULL and INVALID_HANDLE_VALUE") {
  testing::Machine machine;
  CHECK_FALSE(CKsIrpTarget::IsValidHandle(nullptr));
  CHECK_FALSE(CKsIrpTarget::IsValidHandle(INVALID_HANDLE_VALUE));
  CHECK(CKsIrpTarget::IsValidHandle(reinterpret_cast<HANDLE>(1)));
  CHECK(CKsIrpTarget::IsValidHandle(reinterpret_cast<HANDLE>(~uintptr_t{0} - 1)));
}

TEST_CASE("SafeCloseHandle closes valid handles and always leaves INVALID_HANDLE_VALUE behind") {
  testing::Machine machine;
  struct Case {
    const char* what;
    HANDLE handle;
    BOOL result;
    HANDLE after;
  };
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE notOpen = reinterpret_cast<HANDLE>(0x7FFF0);
  for (Case c : {Case{"NULL stays NULL", nullptr, TRUE, nullptr},
                 Case{"invalid stays invalid", INVALID_HANDLE_VALUE, TRUE, INVALID_HANDLE_VALUE},
                 Case{"open handle", event, TRUE, INVALID_HANDLE_VALUE},
                 Case{"CloseHandle fails", notOpen, FALSE, INVALID_HANDLE_VALUE}}) {
    CAPTURE(c.what);
    HANDLE variable = c.handle;
    CHECK(CKsIrpTarget::SafeCloseHandle(variable) == c.result);
    CHECK(variable == c.after);
  }
  CHECK(winsim::LiveHandleCount() == 0);

  Target target(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  CHECK(target.Close() == TRUE);
  CHECK(target.m_handle == INVALID_HANDLE_VALUE);
  CHECK(target.Close() == TRUE);
}

TEST_CASE("a new object holds one reference and the holder that drops the last one destroys it") {
  bool destroyed = false;
  auto* object = new Counted(&destroyed);
  CHECK(object->m_lRefCount == 1);
  ++object->m_lRefCount;
  DropReference(object);
  CHECK_FALSE(destroyed);
  DropReference(object);
  CHECK(destroyed);
}

TEST_CASE("SyncIoctl on an invalid handle fails before making an event and leaves the counter alone") {
  testing::Machine machine;
  for (HANDLE handle : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    winsim::ClearDebugOutput();
    // The next event fails to be made; SyncIoctl must not be the one to find out.
    winsim::FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, 1);
    KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
    ULONG counter = kUntouched;
    CHECK(CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, &request, sizeof request, nullptr, 0, &counter) == E_FAIL);
    CHECK(counter == kUntouched);
    CHECK(CreateEventA(nullptr, FALSE, FALSE, nullptr) == nullptr);
    std::vector<std::string> expected = {"CKsIrpTarget::SyncIoctl Invalid Handle"};
    if (kstest::Verbose()) {
      expected = {"CKsIrpTarget::SyncIoctl() Enter", "CKsIrpTarget::IsValidHandle() Enter",
                  "CKsIrpTarget::IsValidHandle() Leave", "CKsIrpTarget::SyncIoctl Invalid Handle",
                  "CKsIrpTarget::SyncIoctl Leave, returning 0x80004005"};
    }
    CHECK(kstest::Lines() == expected);
  }
}

TEST_CASE("SyncIoctl reports an event that cannot be made as E_OUTOFMEMORY") {
  testing::Machine machine;
  HANDLE filter = OpenInterface(kstest::PlugFilter(kstest::MidiPort()));
  winsim::FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, 1);
  KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
  ULONG counter = kUntouched;
  CHECK(CKsIrpTarget::SyncIoctl(filter, IOCTL_KS_PROPERTY, &request, sizeof request, nullptr, 0, &counter) ==
        E_OUTOFMEMORY);
  CHECK(counter == kUntouched);
  CHECK(kstest::Messages() == std::vector<std::string>{"CKsIrpTarget::SyncIoctl CreateEvent failed"});
  CloseHandle(filter);
}

TEST_CASE("SyncIoctl treats only a property size query answered with a size error as success") {
  testing::Machine machine;
  struct Case {
    const char* what;
    DWORD sizeError;
    DWORD code;
    ULONG outSize;
    HRESULT hr;
    ULONG counter;
  };
  for (DWORD sizeError : {DWORD{ERROR_MORE_DATA}, DWORD{ERROR_INSUFFICIENT_BUFFER}}) {
    winsim::FilterDesc desc = kstest::MidiPort();
    desc.sizeQueryError = sizeError;
    std::string path = kstest::PlugFilter(desc, "USB\\VID_1A2B&PID_0A3C\\" + std::to_string(sizeError));
    HANDLE filter = OpenInterface(path);
    // Only a warning status brings the byte count back; an error status leaves the counter alone.
    ULONG sizeCounter = sizeError == ERROR_MORE_DATA ? 4 : kUntouched;
    for (Case c : {Case{"size query", sizeError, IOCTL_KS_PROPERTY, 0, S_OK, sizeCounter},
                   Case{"too small a buffer", sizeError, IOCTL_KS_PROPERTY, 2, E_FAIL, 0},
                   Case{"another control code", sizeError, IOCTL_KS_READ_STREAM, 0, E_FAIL, 0},
                   Case{"another error", ERROR_GEN_FAILURE, IOCTL_KS_PROPERTY, 0, E_FAIL, 0}}) {
      CAPTURE(c.what);
      CAPTURE(sizeError);
      winsim::ClearDebugOutput();
      // The answer comes from the device for the property; injected for the other cases.
      if (c.code != IOCTL_KS_PROPERTY || c.sizeError != sizeError) winsim::FailRequests({path, c.code}, c.sizeError, 1);
      KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
      ULONG value = 0;
      ULONG counter = kUntouched;
      CHECK(CKsIrpTarget::SyncIoctl(filter, c.code, &request, sizeof request, c.outSize ? &value : nullptr, c.outSize,
                                    &counter) == c.hr);
      CHECK(counter == c.counter);
      CHECK(kstest::Messages().empty());
    }
    CloseHandle(filter);
  }
}

TEST_CASE("SyncIoctl without a counter still returns the value") {
  testing::Machine machine;
  HANDLE filter = OpenInterface(kstest::PlugFilter(kstest::MidiPort()));
  KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
  ULONG pins = 0;
  CHECK(CKsIrpTarget::SyncIoctl(filter, IOCTL_KS_PROPERTY, &request, sizeof request, &pins, sizeof pins, nullptr) ==
        S_OK);
  CHECK(pins == 2);
  CloseHandle(filter);
}

TEST_CASE("SyncIoctl waits for a request the device completes later and reports its own outcome") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(kstest::MidiPort());
  HANDLE filter = OpenInterface(path);
  struct Case {
    const char* what;
    ULONG property;
    ULONG pinId;
    ULONG outSize;
    HRESULT hr;
    ULONG counter;
  };
  for (bool released : {true, false}) {
    for (Case c : {Case{"value", KSPROPERTY_PIN_CTYPES, 0, 4, S_OK, 4},
                   Case{"size query answered late with ERROR_MORE_DATA", KSPROPERTY_PIN_NAME, 0, 0, S_OK, 18},
                   Case{"failure answered late", KSPROPERTY_PIN_DATAFLOW, 7, 4, E_FAIL, 0}}) {
      CAPTURE(released);
      CAPTURE(c.what);
      winsim::RequestMatch match{path, IOCTL_KS_PROPERTY, KSPROPSETID_Pin, c.property};
      std::thread releaser;
      if (released) {
        winsim::HoldRequests(match, 1);
        releaser = std::thread([] {
          if (testing::WaitUntil([] { return winsim::HeldRequestCount() == 1; })) winsim::ReleaseHeldRequests();
        });
      } else {
        winsim::DelayRequests(match, 20, 1);
      }
      KSP_PIN request = PinRequest(c.property, c.pinId);
      ULONG value = 0;
      ULONG counter = kUntouched;
      CHECK(CKsIrpTarget::SyncIoctl(filter, IOCTL_KS_PROPERTY, &request, sizeof request, c.outSize ? &value : nullptr,
                                    c.outSize, &counter) == c.hr);
      CHECK(counter == c.counter);
      if (c.property == KSPROPERTY_PIN_CTYPES) CHECK(value == 2);
      if (releaser.joinable()) releaser.join();
    }
  }
  CHECK(winsim::PendingRequestCount() == 0);
  CloseHandle(filter);
}

TEST_CASE("SyncIoctl whose wait fails asserts, reports the wait result and clears the counter") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(kstest::MidiPort());
  HANDLE filter = OpenInterface(path);
  winsim::SetAssertionsFatal(false);
  winsim::HoldRequests({path, IOCTL_KS_PROPERTY}, 1);
  winsim::FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE, 1);
  KSP_PIN request = PinRequest(KSPROPERTY_PIN_CTYPES);
  ULONG pins = 0;
  ULONG counter = kUntouched;
  CHECK(CKsIrpTarget::SyncIoctl(filter, IOCTL_KS_PROPERTY, &request, sizeof request, &pins, sizeof pins, &counter) ==
        E_FAIL);
  CHECK(counter == 0);
  REQUIRE(winsim::Assertions().size() == 1);
  CHECK(winsim::Assertions()[0].starts_with("WAIT_OBJECT_0 == dwWait|"));
  CHECK(winsim::Assertions()[0].find("|ks/irptgt.cpp|") != std::string::npos);
  CHECK(kstest::Messages() ==
        std::vector<std::string>{"CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0xffffffff"});
  // Nothing is left pending on the call's OVERLAPPED, which is gone.
  CHECK(winsim::PendingRequestCount() == 0);
  CloseHandle(filter);
}

TEST_CASE("GetPropertyMulti: the value, an empty value, failing requests and a failed allocation") {
  testing::Machine machine;
  winsim::FilterDesc desc = kstest::MidiPort();
  desc.rawNodes = std::vector<BYTE>{};
  std::string emptyPath = kstest::PlugFilter(desc, "USB\\VID_1A2B&PID_0A3C\\EMPTY");
  std::string path = kstest::PlugFilter(winsim::OrdinaryAudioFilter(false));
  winsim::RequestMatch nodes{path, IOCTL_KS_PROPERTY, KSPROPSETID_Topology};
  struct Case {
    const char* what;
    std::string path;
    int failAt;  // -1 none, 0 size query, 1 value request
    bool failAllocation;
    HRESULT hr;
    bool bufferHandedOver;
  };
  for (const Case& c : {Case{"two nodes", path, -1, false, S_OK, true}, Case{"empty value", emptyPath, -1, false, S_OK, false},
                        Case{"size query fails", path, 0, false, E_FAIL, false},
                        Case{"value request fails", path, 1, false, E_FAIL, true},
                        Case{"allocation fails", path, -1, true, E_OUTOFMEMORY, false}}) {
    CAPTURE(c.what);
    Target target(OpenInterface(c.path));
    if (c.failAt >= 0) winsim::FailRequests(nodes, ERROR_GEN_FAILURE, 1, c.failAt);
    // A block the caller held before: replaced only when a new one is handed over.
    std::unique_ptr<BYTE[]> item(new BYTE[1]);
    const BYTE* before = item.get();
    if (c.failAllocation) winsim::FailAllocations(1);
    CHECK(target.GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &item) == c.hr);
    winsim::FailAllocations(0);
    if (c.bufferHandedOver) CHECK((item != nullptr && item.get() != before));
    if (!c.bufferHandedOver) CHECK(item.get() == (c.failAllocation ? nullptr : before));
    if (c.hr == S_OK && c.bufferHandedOver)
      CHECK(reinterpret_cast<GUID*>(item.get() + sizeof(KSMULTIPLE_ITEM))[1] == KSNODETYPE_VOLUME);
    CHECK(kstest::Messages().empty());
  }
}

TEST_CASE("SetPropertySimple sends the value; without memory it sends nothing") {
  testing::Machine machine;
  std::string path = kstest::PlugFilter(kstest::MidiPort());
  Target target(OpenInterface(path));
  ULONG value = 0;
  // A filter has no settable properties: the request reaches it and is refused.
  CHECK(target.SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &value, sizeof value, nullptr,
                                 0) == E_FAIL);
  winsim::FailRequests({path}, ERROR_GEN_FAILURE);  // would turn any request that got through into E_FAIL
  winsim::ClearDebugOutput();
  winsim::FailAllocations(1);
  CHECK(target.SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &value, sizeof value, nullptr,
                                 0) == E_OUTOFMEMORY);
  winsim::FailAllocations(0);
  if (kstest::Verbose()) {
    CHECK(kstest::Lines() == std::vector<std::string>{"CKsIrpTarget::SetPropertySimple() Enter",
                                                      "CKsIrpTarget::SetPropertySimple Leave, returning 0x8007000e"});
  }
}
