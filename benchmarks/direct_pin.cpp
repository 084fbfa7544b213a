#include "benchmarks/direct_pin.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "ks/midi_stream.h"
#include "winsim/machine.h"

namespace bench {
namespace {

typedef DWORD(WINAPI* CreatePinFunction)(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);

// The connection request of the hidden port's render pin (pin factory 0).
struct ConnectRequest {
  KSPIN_CONNECT connect{};
  KSDATAFORMAT format{};
};

ConnectRequest RenderPinRequest() {
  ConnectRequest request;
  request.connect.Interface.Set = KSINTERFACESETID_Standard;
  request.connect.Interface.Id = KSINTERFACE_STANDARD_STREAMING;
  request.connect.Medium.Set = KSMEDIUMSETID_Standard;
  request.connect.Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
  request.connect.PinId = 0;
  request.format.FormatSize = sizeof(KSDATAFORMAT);
  request.format.MajorFormat = KSDATAFORMAT_TYPE_MUSIC;
  request.format.SubFormat = winsim::kDriverHiddenMidiSubFormat1;
  request.format.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
  return request;
}

void Require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(what);
}

}  // namespace

DirectPin::DirectPin(const std::string& interfacePath, size_t length) {
  m_hFilter = CreateFileA(interfacePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, NULL);
  Require(m_hFilter != INVALID_HANDLE_VALUE, "the hidden port cannot be opened");
  auto createPin = reinterpret_cast<CreatePinFunction>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("ksuser.dll"), "KsCreatePin")));
  ConnectRequest request = RenderPinRequest();
  Require(createPin != NULL && createPin(m_hFilter, &request.connect, GENERIC_WRITE, &m_hPin) == ERROR_SUCCESS,
          "the render pin cannot be made");
  m_overlapped.hEvent = CreateEventA(NULL, FALSE, TRUE, NULL);
  m_hLock = CreateEventA(NULL, FALSE, TRUE, NULL);
  m_bareOverlapped.hEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
  for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN}) {
    KSPROPERTY property{};
    property.Set = KSPROPSETID_Connection;
    property.Id = KSPROPERTY_CONNECTION_STATE;
    property.Flags = KSPROPERTY_TYPE_SET;
    DWORD returned = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_overlapped.hEvent;
    Require(DeviceIoControl(m_hPin, IOCTL_KS_PROPERTY, &property, sizeof property, &state, sizeof state, &returned,
                            &overlapped),
            "the render pin cannot run");
  }
  SetEvent(m_overlapped.hEvent);  // the first write does not wait

  std::vector<BYTE> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<BYTE>(i & 0x7F);
  for (size_t offset = 0; offset < length; offset += kMidiWriteChunk) {
    Chunk& chunk = m_chunks.emplace_back();
    chunk.buffer.assign(kMidiWriteBufferSize, 0);
    PrepareMidiWriteHeader(&chunk.header, chunk.buffer.data());
    FillMidiWriteEvent(chunk.buffer.data(), bytes.data() + offset,
                       static_cast<ULONG>(std::min<size_t>(kMidiWriteChunk, length - offset)));
  }
}

DirectPin::~DirectPin() {
  WaitForSingleObject(m_overlapped.hEvent, 1000);
  CloseHandle(m_overlapped.hEvent);
  CloseHandle(m_bareOverlapped.hEvent);
  CloseHandle(m_hLock);
  CloseHandle(m_hPin);
  CloseHandle(m_hFilter);
}

void DirectPin::Write(Chunk& chunk, OVERLAPPED* overlapped) {
  DWORD returned = 0;
  DeviceIoControl(m_hPin, IOCTL_KS_WRITE_STREAM, NULL, 0, &chunk.header, chunk.header.Size, &returned, overlapped);
}

void DirectPin::SendCalls() {
  WaitForSingleObject(m_hLock, 1000);
  for (Chunk& chunk : m_chunks) {
    WaitForSingleObject(m_overlapped.hEvent, 1000);
    Write(chunk, &m_overlapped);
  }
  SetEvent(m_hLock);
}

void DirectPin::WriteAndWait() {
  for (Chunk& chunk : m_chunks) {
    Write(chunk, &m_bareOverlapped);
    WaitForSingleObject(m_bareOverlapped.hEvent, 1000);
  }
}

}  // namespace bench
