// The simulated kernel-streaming driver holds to the driver contract: opening interfaces,
// KsCreatePin's checks, pin states, the MIDI stream and what unplugging does.
#include <doctest/doctest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "support/machine.h"
#include "winsim/control_ks.h"
#include "winsim/machine.h"

namespace {

const GUID kHidden = {0x7B80F763, 0x4FDB, 0x4168, {0x9E, 0x5E, 0x24, 0xB8, 0xF6, 0x95, 0xAC, 0xBB}};

HANDLE Open(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Plug(const winsim::FilterDesc& filter, winsim::DeviceId* id = nullptr,
                 const std::string& instanceId = "USB\\VID_1A2B&PID_0B5D\\9") {
  winsim::DeviceDesc device;
  device.instanceId = instanceId;
  winsim::InterfaceDesc interface;
  interface.filter = filter;
  device.interfaces.push_back(interface);
  winsim::DeviceId device_id = winsim::PlugDevice(device);
  if (id) *id = device_id;
  return winsim::InterfacePath(device_id);
}

struct Request {
  KSPIN_CONNECT connect{};
  KSDATAFORMAT format{};
};

Request MidiRequest(ULONG pinId, const GUID& subFormat = kHidden) {
  Request request;
  request.connect.Interface.Set = KSINTERFACESETID_Standard;
  request.connect.Medium.Set = KSMEDIUMSETID_Standard;
  request.connect.PinId = pinId;
  request.format.FormatSize = sizeof(KSDATAFORMAT);
  request.format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
  request.format.SubFormat = subFormat;
  request.format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
  return request;
}

typedef DWORD(WINAPI* CreatePin)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

CreatePin KsCreatePin() {
  HMODULE ksuser = LoadLibraryA("ksuser.dll");
  REQUIRE(ksuser != nullptr);
  return reinterpret_cast<CreatePin>(reinterpret_cast<void*>(GetProcAddress(ksuser, "KsCreatePin")));
}

BOOL SetState(HANDLE pin, KSSTATE state, OVERLAPPED* overlapped) {
  KSPROPERTY property{};
  property.Set = KSPROPSETID_Connection;
  property.Id = KSPROPERTY_CONNECTION_STATE;
  property.Flags = KSPROPERTY_TYPE_SET;
  DWORD returned = 0;
  return DeviceIoControl(pin, IOCTL_KS_PROPERTY, &property, sizeof property, &state, sizeof state, &returned,
                         overlapped);
}

// A capture pin of a started hidden port, and a read request on it.
struct CapturePin {
  explicit CapturePin(const std::string& path, DWORD flags = FILE_FLAG_OVERLAPPED) {
    filter = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    Request request = MidiRequest(1);
    REQUIRE(KsCreatePin()(filter, &request.connect, GENERIC_READ, &pin) == ERROR_SUCCESS);
    for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
      OVERLAPPED overlapped{};
      REQUIRE(SetState(pin, state, &overlapped));
    }
    header.Size = sizeof header;
    header.FrameExtent = 20;
    header.Data = buffer;
  }
  ~CapturePin() {
    CloseHandle(pin);
    CloseHandle(filter);
  }
  BOOL Read(OVERLAPPED* overlapped) {
    DWORD returned = 0;
    return DeviceIoControl(pin, IOCTL_KS_READ_STREAM, nullptr, 0, &header, header.Size, &returned, overlapped);
  }
  HANDLE filter = nullptr;
  HANDLE pin = nullptr;
  BYTE buffer[40] = {};
  KSSTREAM_HEADER header{};
};

KSP_PIN PinProperty(ULONG id) {
  KSP_PIN request{};
  request.Property.Set = KSPROPSETID_Pin;
  request.Property.Id = id;
  request.Property.Flags = KSPROPERTY_TYPE_GET;
  return request;
}

bool Signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

TEST_CASE("an answer given at once: an error status touches nothing, success and warnings complete") {
  testing::Machine machine;
  winsim::FilterDesc desc = winsim::HiddenMidiFilter(kHidden);
  desc.sizeQueryError = ERROR_INSUFFICIENT_BUFFER;
  std::string insufficient = Plug(desc, nullptr, "USB\\VID_1A2B&PID_0B5D\\8");
  std::string moreData = Plug(winsim::HiddenMidiFilter(kHidden));
  struct Case {
    const char* what;
    const std::string& path;
    ULONG property;
    DWORD outSize;
    BOOL result;
    DWORD error;
    DWORD count;          // 77: untouched
    ULONG_PTR internal;   // STATUS_PENDING (0x103): untouched since the call started it
    ULONG_PTR high;       // 55: untouched
    bool signalled;
  };
  for (const Case& c : {Case{"success", moreData, KSPROPERTY_PIN_CTYPES, 4, TRUE, 0, 4, 0, 4, true},
                        Case{"warning", moreData, KSPROPERTY_PIN_NAME, 0, FALSE, ERROR_MORE_DATA, 18, 0x80000005, 18,
                             true},
                        Case{"error", insufficient, KSPROPERTY_PIN_NAME, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 77, 0x103,
                             55, false}}) {
    CAPTURE(c.what);
    HANDLE filter = Open(c.path);
    OVERLAPPED overlapped{};
    overlapped.InternalHigh = 55;
    // Manual reset and signalled: the call resets it when the request starts.
    overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    KSP_PIN request = PinProperty(c.property);
    ULONG value = 0;
    DWORD count = 77;
    SetLastError(0);
    CHECK(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &request, sizeof request, c.outSize ? &value : nullptr,
                          c.outSize, &count, &overlapped) == c.result);
    CHECK(GetLastError() == c.error);
    CHECK(count == c.count);
    CHECK(overlapped.Internal == c.internal);
    CHECK(overlapped.InternalHigh == c.high);
    CHECK(Signalled(overlapped.hEvent) == c.signalled);
    CloseHandle(overlapped.hEvent);
    CloseHandle(filter);
  }
}

TEST_CASE("a handle opened without FILE_FLAG_OVERLAPPED completes each request inside the call") {
  testing::Machine machine;
  std::string path = Plug(winsim::HiddenMidiFilter(kHidden, true));
  HANDLE filter = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  winsim::DelayRequests({path, IOCTL_KS_PROPERTY}, 30, 1);
  KSP_PIN request = PinProperty(KSPROPERTY_PIN_CTYPES);
  ULONG pins = 0;
  DWORD count = 0;
  OVERLAPPED overlapped{};
  auto start = std::chrono::steady_clock::now();
  CHECK(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &request, sizeof request, &pins, sizeof pins, &count, &overlapped));
  CHECK(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(25));
  CHECK(count == 4);
  CHECK(pins == 2);
  CloseHandle(filter);

  // A pin made on such a filter is synchronous too: a read returns with its data.
  CapturePin capture(path, FILE_ATTRIBUTE_NORMAL);
  std::thread sender([&path] {
    if (testing::WaitUntil([] { return winsim::PendingRequestCount() == 1; }))
      winsim::ReceiveMidi(path, {0x90, 0x40, 0x7F});
  });
  CHECK(capture.Read(&overlapped));
  sender.join();
  CHECK(capture.buffer[4] == 3);
}

// A capture pin on a plugged hidden port, and an OVERLAPPED with a manual-reset event of its own.
struct PendingReadFixture {
  ~PendingReadFixture() { CloseHandle(overlapped.hEvent); }
  testing::Machine machine;
  winsim::DeviceId id = 0;
  std::string path = Plug(winsim::HiddenMidiFilter(kHidden), &id);
  CapturePin capture{path};
  OVERLAPPED overlapped{0, 0, {}, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

TEST_CASE_FIXTURE(PendingReadFixture, "cancellation is a request that completes later, and a driver may ignore it") {
  DWORD count = 0;

  CHECK_FALSE(capture.Read(&overlapped));
  CHECK(CancelIo(capture.pin));
  REQUIRE(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0);
  CHECK_FALSE(GetOverlappedResult(capture.pin, &overlapped, &count, FALSE));
  CHECK(GetLastError() == ERROR_OPERATION_ABORTED);

  winsim::IgnoreCancellation({path, IOCTL_KS_READ_STREAM}, 2);
  CHECK_FALSE(capture.Read(&overlapped));
  CHECK(CancelIo(capture.pin));
  CHECK(CancelIoEx(capture.pin, &overlapped));  // the request is still there to be asked
  CHECK(WaitForSingleObject(overlapped.hEvent, 50) == WAIT_TIMEOUT);
  CHECK_FALSE(GetOverlappedResult(capture.pin, &overlapped, &count, FALSE));
  CHECK(GetLastError() == ERROR_IO_INCOMPLETE);
  // What still ends it: the device leaving.
  winsim::UnplugDevice(id);
  REQUIRE(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0);
  CHECK_FALSE(CancelIoEx(capture.pin, &overlapped));
  CHECK(GetLastError() == ERROR_NOT_FOUND);
}

TEST_CASE_FIXTURE(PendingReadFixture, "a thread's pending requests are cancelled when it ends, whoever made the thread") {
  std::thread([&] { CHECK_FALSE(capture.Read(&overlapped)); }).join();
  REQUIRE(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0);
  CHECK(overlapped.Internal == 0xC0000120);  // STATUS_CANCELLED
  CHECK(winsim::PendingRequestCount() == 0);
}

TEST_CASE_FIXTURE(PendingReadFixture, "a pending request signals its own event object, not whatever now has the handle value") {
  CHECK_FALSE(capture.Read(&overlapped));
  CloseHandle(overlapped.hEvent);
  HANDLE reused = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CHECK(reused == overlapped.hEvent);  // closed by the fixture
  winsim::ReceiveMidi(path, {0xFE});
  CHECK(overlapped.Internal == 0);
  CHECK_FALSE(Signalled(reused));
}

TEST_CASE("interface paths open as filters, several times at once, and only while present") {
  testing::Machine machine;
  winsim::DeviceId id = 0;
  std::string path = Plug(winsim::HiddenMidiFilter(kHidden), &id);
  CHECK(Open("\\\\?\\usb#nothing#here") == INVALID_HANDLE_VALUE);
  CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
  // With a reference string after the missing link, the path is what is missing.
  CHECK(Open("\\\\?\\usb#nothing#here\\global") == INVALID_HANDLE_VALUE);
  CHECK(GetLastError() == ERROR_PATH_NOT_FOUND);

  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  HANDLE first = Open(path);
  HANDLE second = Open(upper);
  CHECK(first != INVALID_HANDLE_VALUE);
  CHECK(second != INVALID_HANDLE_VALUE);
  CHECK(CloseHandle(first));

  winsim::UnplugDevice(id);
  CHECK(Open(path) == INVALID_HANDLE_VALUE);
  CHECK(GetLastError() == ERROR_PATH_NOT_FOUND);  // the link is gone; the reference string follows it
  winsim::ReplugDevice(id);
  HANDLE third = Open(path);
  CHECK(third != INVALID_HANDLE_VALUE);
  // A handle opened before the device left stays dead.
  OVERLAPPED overlapped{};
  KSPROPERTY property{};
  DWORD returned = 0;
  CHECK_FALSE(DeviceIoControl(second, IOCTL_KS_PROPERTY, &property, sizeof property, nullptr, 0, &returned, &overlapped));
  CHECK(GetLastError() == ERROR_DEVICE_NOT_CONNECTED);
  CloseHandle(second);
  CloseHandle(third);

  winsim::OpenCounts counts = winsim::InterfaceOpenCounts(path);
  CHECK(counts.filterOpens == 3);
  CHECK(counts.filterCloses == 3);
}

TEST_CASE("KsCreatePin checks the connection request against the pin factory") {
  testing::Machine machine;
  std::string path = Plug(winsim::HiddenMidiFilter(kHidden));
  HANDLE filter = Open(path);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  struct Case {
    const char* what;
    void (*change)(Request&);
    DWORD error;
  };
  for (Case c : {Case{"pin id out of range", [](Request& r) { r.connect.PinId = 2; }, ERROR_INVALID_PARAMETER},
                 Case{"other interface set", [](Request& r) { r.connect.Interface.Set = KSMEDIUMSETID_Standard; }, 1169},
                 Case{"other medium set", [](Request& r) { r.connect.Medium.Set = KSINTERFACESETID_Standard; }, 1169},
                 Case{"other subformat", [](Request& r) { r.format.SubFormat = KSDATAFORMAT_SUBTYPE_MIDI; }, 1169},
                 Case{"format too short", [](Request& r) { r.format.FormatSize = 16; }, ERROR_INVALID_PARAMETER},
                 Case{"accepted", [](Request&) {}, ERROR_SUCCESS}}) {
    CAPTURE(c.what);
    Request request = MidiRequest(0);
    c.change(request);
    HANDLE pin = nullptr;
    CHECK(KsCreatePin()(filter, &request.connect, GENERIC_READ | GENERIC_WRITE, &pin) == c.error);
    CHECK((pin != nullptr) == (c.error == ERROR_SUCCESS));
    if (pin) CHECK(CloseHandle(pin));
  }
  Request request = MidiRequest(0);
  HANDLE pin = nullptr;
  CHECK(KsCreatePin()(event, &request.connect, GENERIC_READ, &pin) == ERROR_INVALID_HANDLE);
  CloseHandle(event);
  CloseHandle(filter);
}

TEST_CASE("a render pin takes writes only once started; a loopback port reads them back") {
  testing::Machine machine;
  std::string path = Plug(winsim::HiddenMidiFilter(kHidden, true));
  HANDLE filter = Open(path);
  HANDLE render = nullptr, capture = nullptr;
  Request renderRequest = MidiRequest(0), captureRequest = MidiRequest(1);
  REQUIRE(KsCreatePin()(filter, &renderRequest.connect, GENERIC_WRITE, &render) == ERROR_SUCCESS);
  REQUIRE(KsCreatePin()(filter, &captureRequest.connect, GENERIC_READ, &capture) == ERROR_SUCCESS);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

  BYTE write[652] = {};
  KSMUSICFORMAT event{0, 2};
  std::memcpy(write, &event, sizeof event);
  write[8] = 0xC0;
  write[9] = 0x05;
  KSSTREAM_HEADER header{};
  header.Size = sizeof header;
  header.FrameExtent = sizeof write;
  header.DataUsed = 12;
  header.Data = write;
  DWORD returned = 0;
  CHECK_FALSE(DeviceIoControl(render, IOCTL_KS_WRITE_STREAM, nullptr, 0, &header, header.Size, &returned, &overlapped));
  CHECK(GetLastError() == 22);  // ERROR_BAD_COMMAND: the pin is stopped

  for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
    CHECK(SetState(render, state, &overlapped));
    CHECK(SetState(capture, state, &overlapped));
  }
  // A ByteCount past the frame is refused rather than read past.
  event.ByteCount = 645;
  std::memcpy(write, &event, sizeof event);
  CHECK_FALSE(DeviceIoControl(render, IOCTL_KS_WRITE_STREAM, nullptr, 0, &header, header.Size, &returned, &overlapped));
  CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
  event.ByteCount = 2;
  std::memcpy(write, &event, sizeof event);
  CHECK(DeviceIoControl(render, IOCTL_KS_WRITE_STREAM, nullptr, 0, &header, header.Size, &returned, &overlapped));
  CHECK(winsim::CapturedWrites(path).size() == 1);

  BYTE read[40] = {};
  KSSTREAM_HEADER readHeader{};
  readHeader.Size = sizeof readHeader;
  readHeader.FrameExtent = 20;
  readHeader.Data = read;
  CHECK_FALSE(DeviceIoControl(capture, IOCTL_KS_READ_STREAM, nullptr, 0, &readHeader, readHeader.Size, &returned,
                              &overlapped));
  CHECK(GetLastError() == ERROR_IO_PENDING);
  REQUIRE(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0);
  CHECK(GetOverlappedResult(capture, &overlapped, &returned, FALSE));
  CHECK(read[4] == 2);
  CHECK(read[8] == 0xC0);
  CHECK(read[9] == 0x05);

  // Stopping a pin ends the reads it holds.
  CHECK_FALSE(DeviceIoControl(capture, IOCTL_KS_READ_STREAM, nullptr, 0, &readHeader, readHeader.Size, &returned,
                              &overlapped));
  CHECK(winsim::PinInstances(path)[1].pendingReads == 1);
  OVERLAPPED stateOverlapped{};
  CHECK(SetState(capture, KSSTATE_STOP, &stateOverlapped));
  CHECK(winsim::PinInstances(path)[1].pendingReads == 0);
  REQUIRE(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0);
  CHECK(overlapped.Internal == 0xC0000120);  // STATUS_CANCELLED

  CloseHandle(render);
  CloseHandle(capture);
  CloseHandle(overlapped.hEvent);
  CloseHandle(filter);
  CHECK(winsim::InterfaceOpenCounts(path).pinCloses == 2);
}

TEST_CASE("a pending read completed with a warning keeps its record and byte count; GetOverlappedResult says so") {
  testing::Machine machine;
  std::string path = Plug(winsim::HiddenMidiFilter(kHidden));
  struct Case {
    DWORD error;
    ULONG_PTR internal;
    BOOL result;
  };
  for (Case c : {Case{ERROR_SUCCESS, 0, TRUE}, Case{ERROR_MORE_DATA, 0x80000005, FALSE},
                 Case{ERROR_GEN_FAILURE, 0xC0000001, FALSE}}) {
    CAPTURE(c.error);
    CapturePin capture(path);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CHECK_FALSE(capture.Read(&overlapped));
    REQUIRE(GetLastError() == ERROR_IO_PENDING);
    std::vector<BYTE> frame = {0, 0, 0, 0, 1, 0, 0, 0, 0xF8};
    REQUIRE(winsim::CompleteReadRaw(path, frame, 9, sizeof(KSSTREAM_HEADER), c.error));
    // A pending request signals its event whatever its status.
    CHECK(Signalled(overlapped.hEvent));
    CHECK(overlapped.Internal == c.internal);
    DWORD transferred = 0;
    SetLastError(0);
    CHECK(GetOverlappedResult(capture.pin, &overlapped, &transferred, FALSE) == c.result);
    CHECK(GetLastError() == c.error);
    CHECK(transferred == sizeof(KSSTREAM_HEADER));
    CHECK(capture.buffer[8] == 0xF8);
    CloseHandle(overlapped.hEvent);
  }
}
