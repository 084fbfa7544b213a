// The simulated kernel-streaming driver holds to the driver contract: opening interfaces,
// KsCreatePin's checks, pin states, the MIDI stream and what unplugging does.
#include <doctest/doctest.h>

#include <cstring>

#include "support/machine.h"
#include "winsim/control_ks.h"
#include "winsim/machine.h"

namespace {

const GUID kHidden = {0x7B80F763, 0x4FDB, 0x4168, {0x9E, 0x5E, 0x24, 0xB8, 0xF6, 0x95, 0xAC, 0xBB}};

HANDLE Open(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Plug(const winsim::FilterDesc& filter, winsim::DeviceId* id = nullptr) {
  winsim::DeviceDesc device;
  device.instanceId = "USB\\VID_1A2B&PID_0B5D\\9";
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

}  // namespace

TEST_CASE("interface paths open as filters, several times at once, and only while present") {
  testing::Machine machine;
  winsim::DeviceId id = 0;
  std::string path = Plug(winsim::HiddenMidiFilter(kHidden), &id);
  CHECK(Open("\\\\?\\usb#nothing#here") == INVALID_HANDLE_VALUE);
  CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);

  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  HANDLE first = Open(path);
  HANDLE second = Open(upper);
  CHECK(first != INVALID_HANDLE_VALUE);
  CHECK(second != INVALID_HANDLE_VALUE);
  CHECK(CloseHandle(first));

  winsim::UnplugDevice(id);
  CHECK(Open(path) == INVALID_HANDLE_VALUE);
  CHECK(GetLastError() == ERROR_FILE_NOT_FOUND);
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
