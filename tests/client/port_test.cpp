// Input and output ports against a simulated hidden-port device: the bytes on the wire, the
// receive thread, concurrent senders, a device that never completes, and unplugging.
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "client/hidden_devices.h"
#include "support/window_messages.h"

using testing::ConnectionFixture;
using testing::HiddenDevice;
using testing::OpenDevice;
using TarrowinHiddenMIDI::Device;
using TarrowinHiddenMIDI::Input;
using TarrowinHiddenMIDI::Output;

namespace {

const ULONG kRenderPin = 0;
const ULONG kCapturePin = 1;

std::vector<BYTE> Bytes(size_t count, BYTE first = 0) {
  std::vector<BYTE> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<BYTE>((first + i) & 0x7F);
  return bytes;
}

std::vector<ULONG> ByteCounts(const std::vector<winsim::CapturedWrite>& writes) {
  std::vector<ULONG> counts;
  for (const auto& write : writes) counts.push_back(write.byteCount);
  return counts;
}

}  // namespace

TEST_CASE("Send cuts the bytes into requests of at most 640 and writes each as one music record") {
  OpenDevice open;
  Output* output = open.device->OpenOutput(0);
  REQUIRE(output != nullptr);
  CHECK(output->GetStatus() == 0);
  CHECK(output->GetDevice() == open.device);
  struct Case {
    size_t length;
    std::vector<ULONG> byteCounts;
  };
  size_t before = 0;
  for (const Case& c : {Case{0, {}}, Case{3, {3}}, Case{640, {640}}, Case{641, {640, 1}}, Case{1300, {640, 640, 20}}}) {
    CAPTURE(c.length);
    std::vector<BYTE> bytes = Bytes(c.length, static_cast<BYTE>(c.length));
    CHECK(output->Send(bytes.data(), static_cast<int>(bytes.size())));
    REQUIRE(testing::WaitUntil([&] { return winsim::PendingRequestCount() == 0; }));
    auto writes = winsim::CapturedWrites(open.path);
    writes.erase(writes.begin(), writes.begin() + static_cast<long>(before));
    before += writes.size();
    CHECK(ByteCounts(writes) == c.byteCounts);
    std::vector<BYTE> sent;
    for (const auto& write : writes) {
      CHECK(write.pinId == kRenderPin);
      CHECK(write.header.Size == sizeof(KSSTREAM_HEADER));
      CHECK(write.header.FrameExtent == 652);
      CHECK(write.header.DataUsed == 12);
      CHECK(write.header.PresentationTime.Numerator == 1);
      CHECK(write.header.PresentationTime.Denominator == 1);
      CHECK(write.timeDeltaMs == 0);
      sent.insert(sent.end(), write.bytes.begin(), write.bytes.end());
    }
    CHECK(sent == bytes);
  }
  testing::Destroy(output);
  auto pins = winsim::PinInstances(open.path);
  REQUIRE(pins.size() == 1);
  CHECK(pins[0].stateRequests ==
        std::vector<KSSTATE>{KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN, KSSTATE_PAUSE, KSSTATE_ACQUIRE,
                             KSSTATE_STOP, KSSTATE_STOP});
}

TEST_CASE("two threads sending at once produce whole runs, one call after the other") {
  OpenDevice open;
  Output* output = open.device->OpenOutput(0);
  REQUIRE(output != nullptr);
  // Slow writes keep each call busy long enough for the other thread to try to come in.
  winsim::DelayRequests({open.path, IOCTL_KS_WRITE_STREAM}, 20);
  std::vector<BYTE> ones(1300, 0x11), twos(1300, 0x22);
  std::thread a([&] { output->Send(ones.data(), 1300); });
  std::thread b([&] { output->Send(twos.data(), 1300); });
  a.join();
  b.join();
  REQUIRE(testing::WaitUntil([] { return winsim::PendingRequestCount() == 0; }));
  auto writes = winsim::CapturedWrites(open.path);
  REQUIRE(writes.size() == 6);
  for (size_t run = 0; run < 2; ++run) {
    BYTE value = writes[run * 3].bytes[0];
    for (size_t i = run * 3; i < run * 3 + 3; ++i)
      CHECK(std::all_of(writes[i].bytes.begin(), writes[i].bytes.end(), [&](BYTE x) { return x == value; }));
  }
  CHECK(writes[0].bytes[0] != writes[3].bytes[0]);
  testing::Destroy(output);
}

TEST_CASE("a write the driver never completes costs the next flush its 1000 ms and its bytes") {
  OpenDevice open;
  Output* output = open.device->OpenOutput(0);
  REQUIRE(output != nullptr);
  winsim::HoldRequests({open.path, IOCTL_KS_WRITE_STREAM});
  std::vector<BYTE> bytes = Bytes(3);
  CHECK(output->Send(bytes.data(), 3));
  auto start = std::chrono::steady_clock::now();
  CHECK(output->Send(bytes.data(), 3));
  auto waited = std::chrono::steady_clock::now() - start;
  CHECK(waited >= std::chrono::milliseconds(990));
  CHECK(winsim::CapturedWrites(open.path).size() == 1);
  // Destroying it does not hang on the write the driver keeps, nor leak anything.
  testing::Destroy(output);
  CHECK(winsim::PendingRequestCount() == 0);
  CHECK(winsim::CapturedWrites(open.path).size() == 1);
}

// The output is freed once closing its pin has ended the write (AddressSanitizer's leak check
// reports it otherwise); a write still held after the close would keep it allocated.
TEST_CASE("an output whose write the driver keeps after cancellation is destroyed within a bounded time") {
  OpenDevice open;
  Output* output = open.device->OpenOutput(0);
  REQUIRE(output != nullptr);
  winsim::HoldRequests({open.path, IOCTL_KS_WRITE_STREAM});
  winsim::IgnoreCancellation({open.path, IOCTL_KS_WRITE_STREAM});
  std::vector<BYTE> bytes = Bytes(3);
  CHECK(output->Send(bytes.data(), 3));
  auto start = std::chrono::steady_clock::now();
  testing::Destroy(output);
  CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(3));
  CHECK(winsim::PendingRequestCount() == 0);
}

TEST_CASE("destroying an output waits for its write in flight and for nothing else") {
  OpenDevice open;
  struct Case {
    DWORD delayMs;
    std::chrono::milliseconds atLeast;
  };
  for (Case c : {Case{0, std::chrono::milliseconds(0)}, Case{300, std::chrono::milliseconds(250)}}) {
    CAPTURE(c.delayMs);
    Output* output = open.device->OpenOutput(0);
    REQUIRE(output != nullptr);
    if (c.delayMs != 0) winsim::DelayRequests({open.path, IOCTL_KS_WRITE_STREAM}, c.delayMs, 1);
    std::vector<BYTE> bytes = Bytes(3);
    output->Send(bytes.data(), 3);
    auto start = std::chrono::steady_clock::now();
    testing::Destroy(output);
    auto took = std::chrono::steady_clock::now() - start;
    CHECK(took >= c.atLeast);
    CHECK(took < std::chrono::milliseconds(900));
    CHECK(winsim::PendingRequestCount() == 0);
  }
}

TEST_CASE("an output whose pin cannot be started is not returned, and leaves nothing behind") {
  struct Case {
    const char* name;
    bool withFault;
  };
  for (Case c : {Case{"KsCreatePin fails", true}, Case{"a state request fails", false}, Case{"no render pin", false}}) {
    CAPTURE(c.name);
    HiddenDevice hidden;
    hidden.withOutputPin = std::string(c.name) != "no render pin";
    OpenDevice open(hidden);
    size_t handles = winsim::LiveHandleCount();
    if (c.withFault) {
      winsim::FailCall("KsCreatePin", ERROR_ACCESS_DENIED, -1);
    } else if (hidden.withOutputPin) {
      // The third request is KSSTATE_RUN: the pin is stepped down again.
      winsim::FailRequests({open.path, IOCTL_KS_PROPERTY, KSPROPSETID_Connection}, ERROR_GEN_FAILURE, 1, 2);
    }
    CHECK(open.device->OpenOutput(0) == nullptr);
    CHECK(winsim::LiveHandleCount() == handles);
    winsim::OpenCounts counts = winsim::InterfaceOpenCounts(open.path);
    CHECK(counts.pinOpens == counts.pinCloses);
    winsim::ClearFaults();
  }
}

TEST_CASE("an input delivers each record on its own thread; data before SetCallback is dropped") {
  OpenDevice open;
  Input* input = open.device->OpenInput(0);
  REQUIRE(input != nullptr);
  CHECK(input->GetDevice() == open.device);
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  winsim::ReceiveMidi(open.path, {0x90, 0x3C, 0x64});
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));  // delivered to nobody

  testing::Received received;
  input->SetCallback(testing::Collect, &received);
  winsim::ReceiveMidi(open.path, {0x80, 0x3C, 0x00});
  // Fifteen bytes: a 20-byte frame carries twelve, the rest comes with the next read.
  winsim::ReceiveMidi(open.path, Bytes(15, 0x10));
  REQUIRE(testing::WaitUntil([&] { return received.Count() == 3; }));
  CHECK(received.records[0] == std::vector<BYTE>{0x80, 0x3C, 0x00});
  CHECK(received.records[1] == Bytes(12, 0x10));
  CHECK(received.records[2] == Bytes(3, 0x1C));
  CHECK(received.threads[0] != GetCurrentThreadId());

  input->SetCallback(nullptr, nullptr);
  winsim::ReceiveMidi(open.path, {0xF8});
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  CHECK(received.Count() == 3);
  testing::Destroy(input);
  auto pins = winsim::PinInstances(open.path);
  REQUIRE(pins.size() == 1);
  CHECK(pins[0].state == KSSTATE_STOP);
}

TEST_CASE("an input whose pin cannot be started stays valid, delivers nothing and closes cleanly") {
  OpenDevice open;
  size_t handles = winsim::LiveHandleCount();
  winsim::FailCall("KsCreatePin", ERROR_ACCESS_DENIED, -1);
  Input* input = open.device->OpenInput(0);
  REQUIRE(input != nullptr);
  testing::Received received;
  input->SetCallback(testing::Collect, &received);
  CHECK(input->IsPresent());
  testing::Destroy(input);
  CHECK(received.Count() == 0);
  CHECK(winsim::LiveHandleCount() == handles);
}

TEST_CASE("once the input is destroyed, the old callback is no longer running") {
  // Also when the receive thread's exit code cannot be read once: that is no sign that it ended.
  for (bool exitCodeFails : {false, true}) {
    CAPTURE(exitCodeFails);
    HiddenDevice hidden;
    hidden.loopback = true;
    OpenDevice open(hidden);
    Input* input = open.device->OpenInput(0);
    REQUIRE(input != nullptr);
    struct Slow {
      std::atomic<bool> entered{false}, finished{false};
    } slow;
    input->SetCallback(
        [](const unsigned char*, unsigned int, void* context) {
          auto* state = static_cast<Slow*>(context);
          state->entered = true;
          Sleep(100);
          state->finished = true;
        },
        &slow);
    REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
    winsim::ReceiveMidi(open.path, {0xF8});
    REQUIRE(testing::WaitUntil([&] { return slow.entered.load(); }));
    input->SetCallback(nullptr, nullptr);
    if (exitCodeFails) winsim::FailCall("GetExitCodeThread", ERROR_ACCESS_DENIED, 1);
    testing::Destroy(input);
    CHECK(slow.finished);
  }
}

namespace {

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) return 1;
  return DefWindowProcA(window, message, wParam, lParam);
}

// A callback that hands its bytes to a window thread with SendMessage.
struct ToWindow {
  HWND window = nullptr;
  std::atomic<bool> entered{false}, answered{false};
};

void TARROWIN_CALLBACK SendToWindow(const unsigned char*, unsigned int, void* context) {
  auto* state = static_cast<ToWindow*>(context);
  state->entered = true;
  if (SendMessageA(state->window, WM_USER, 0, 0) == 1) state->answered = true;
}

}  // namespace

TEST_CASE("SetCallback on a window thread that the callback is sending to returns") {
  HiddenDevice hidden;
  hidden.loopback = true;
  OpenDevice open(hidden);
  testing::MessageWindow window("PortTestWindow", CountingProc);
  ToWindow state;
  state.window = window.Handle();
  Input* input = open.device->OpenInput(0);
  REQUIRE(input != nullptr);
  input->SetCallback(SendToWindow, &state);
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  winsim::ReceiveMidi(open.path, {0xF8});
  REQUIRE(testing::WaitUntil([&] { return state.entered.load(); }));
  // The callback now waits for this thread: SetCallback returns without waiting for it, and
  // the callback's message is answered when this thread retrieves its messages.
  input->SetCallback(nullptr, nullptr);
  CHECK(testing::WaitUntil([&] {
    testing::PumpMessages();
    return state.answered.load();
  }));
  testing::Destroy(input);
}

TEST_CASE("an input without a capture pin still answers IsPresent and closes after one sleep") {
  HiddenDevice hidden;
  hidden.withInputPin = false;
  OpenDevice open(hidden);
  Input* input = open.device->OpenInput(0);
  REQUIRE(input != nullptr);
  CHECK(input->IsPresent());
  winsim::UnplugDevice(open.id);
  CHECK_FALSE(input->IsPresent());
  unsigned sleeps = winsim::SleepCallsOnThisThread();
  testing::Destroy(input);
  CHECK(winsim::SleepCallsOnThisThread() == sleeps + 1);
}

TEST_CASE("index 1 on any device but the last names the next device's filter") {
  ConnectionFixture fixture;
  HiddenDevice first, second;
  second.instanceId = "USB\\VID_1A86&PID_0B5D&MI_00\\7&2";
  testing::Plug(first);
  std::string secondPath = testing::PathOf(testing::Plug(second));
  Device* device = fixture.connection->CreateDevice(0);
  REQUIRE(device != nullptr);
  Output* output = device->OpenOutput(1);
  REQUIRE(output != nullptr);
  BYTE note[] = {0x90, 0x40, 0x7F};
  output->Send(note, 3);
  CHECK(winsim::CapturedWrites(secondPath).size() == 1);
  testing::Destroy(output);
  testing::Destroy(device);
}

TEST_CASE("ports outlive their device") {
  HiddenDevice hidden;
  hidden.loopback = true;
  OpenDevice open(hidden);
  Input* input = open.device->OpenInput(0);
  Output* output = open.device->OpenOutput(0);
  REQUIRE(input != nullptr);
  REQUIRE(output != nullptr);
  testing::Destroy(open.device);
  open.device = nullptr;
  testing::Received received;
  input->SetCallback(testing::Collect, &received);
  std::vector<BYTE> bytes = Bytes(30, 0x20);
  output->Send(bytes.data(), 30);
  CHECK(testing::WaitUntil([&] { return received.All().size() == 30; }));
  CHECK(received.All() == bytes);
  CHECK(output->IsPresent());
  testing::Destroy(output);
  testing::Destroy(input);
}

TEST_CASE("unplugging while streaming: notified, not present, nothing more delivered, no hang, no leak") {
  HiddenDevice hidden;
  hidden.loopback = true;
  int notifications = 0;
  testing::Machine machine;
  auto* connection = VODICreate([](void* count) { ++*static_cast<int*>(count); }, &notifications);
  winsim::DeviceId id = testing::Plug(hidden);
  Device* device = connection->CreateDevice(0);
  REQUIRE(device != nullptr);
  Input* input = device->OpenInput(0);
  Output* output = device->OpenOutput(0);
  REQUIRE(output != nullptr);
  testing::Received received;
  input->SetCallback(testing::Collect, &received);
  std::vector<BYTE> bytes = Bytes(100);
  output->Send(bytes.data(), 100);
  REQUIRE(testing::WaitUntil([&] { return received.All().size() == 100; }));
  size_t deliveredBefore = received.Count();

  winsim::UnplugDevice(id);
  testing::WaitUntil([&] {
    testing::PumpMessages();
    return notifications >= 2;  // the arrival and the removal
  });
  CHECK(notifications == 2);
  CHECK_FALSE(input->IsPresent());
  CHECK_FALSE(output->IsPresent());
  CHECK(output->Send(bytes.data(), 100));
  winsim::ReceiveMidi(testing::PathOf(id), {0x90, 1, 2});
  // Nothing must arrive, so there is no state to wait for: give a delivery time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  CHECK(received.Count() == deliveredBefore);  // not even the ended read's old record
  testing::Destroy(input);
  testing::Destroy(output);
  testing::Destroy(device);
  VODIDestroy(connection);
  winsim::OpenCounts counts = winsim::InterfaceOpenCounts(testing::PathOf(id));
  CHECK(counts.filterOpens == counts.filterCloses);
  CHECK(counts.pinOpens == counts.pinCloses);
  CHECK(winsim::LiveHandleCount() == 0);
}

namespace {

// A collector that, on its first record, makes the receive thread's next wait fail.
struct FailNextWait {
  testing::Received received;
  std::atomic<bool> armed{false};
};

void TARROWIN_CALLBACK CollectThenFailWait(const unsigned char* data, unsigned int count, void* context) {
  auto* state = static_cast<FailNextWait*>(context);
  testing::Collect(data, count, &state->received);
  if (!state->armed.exchange(true)) winsim::FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE, 1);
}

}  // namespace

TEST_CASE("a failed wait never leaves two reads outstanding, and no record is lost") {
  OpenDevice open;
  Input* input = open.device->OpenInput(0);
  REQUIRE(input != nullptr);
  FailNextWait state;
  input->SetCallback(CollectThenFailWait, &state);
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  winsim::ReceiveMidi(open.path, {0x90, 0x3C, 0x64});
  // The receive thread delivers, reads again, and its wait for that read fails.
  REQUIRE(testing::WaitUntil([] { return winsim::CallCounts()["WaitForSingleObject"] >= 3; }));
  for (int i = 0; i < 3; ++i) {
    // Between a delivery and the next read the pin briefly has none; never two.
    size_t pending = 0;
    CHECK(testing::WaitUntil([&] {
      auto pins = winsim::PinInstances(open.path);
      pending = pins.size() == 1 ? pins[0].pendingReads : 99;
      return pending != 0;
    }));
    CHECK(pending == 1);
    winsim::ReceiveMidi(open.path, {static_cast<BYTE>(0xB0 + i), 0x07, 0x40});
    REQUIRE(testing::WaitUntil([&] { return state.received.Count() == static_cast<size_t>(i) + 2; }));
  }
  CHECK(state.received.All() == std::vector<BYTE>{0x90, 0x3C, 0x64, 0xB0, 0x07, 0x40, 0xB1, 0x07, 0x40, 0xB2, 0x07, 0x40});
  testing::Destroy(input);
}

TEST_CASE("a read the driver refuses once, or fails later, does not stop later deliveries") {
  for (bool atOnce : {true, false}) {
    CAPTURE(atOnce);
    OpenDevice open;
    // Refused when issued; or taken, then ended by the driver with an error.
    if (atOnce) winsim::FailRequests({open.path, IOCTL_KS_READ_STREAM}, ERROR_GEN_FAILURE, 1);
    Input* input = open.device->OpenInput(0);
    REQUIRE(input != nullptr);
    testing::Received received;
    input->SetCallback(testing::Collect, &received);
    REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
    if (!atOnce) {
      winsim::EndPendingRequests({open.path, IOCTL_KS_READ_STREAM}, ERROR_GEN_FAILURE);
      REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
    }
    winsim::ReceiveMidi(open.path, {0xC0, 0x05});
    CHECK(testing::WaitUntil([&] { return received.Count() == 1; }));
    testing::Destroy(input);
  }
}

TEST_CASE("an input whose read the driver keeps after cancellation is destroyed within a bounded time") {
  OpenDevice open;
  winsim::IgnoreCancellation({open.path, IOCTL_KS_READ_STREAM});
  Input* input = open.device->OpenInput(0);
  REQUIRE(input != nullptr);
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  auto start = std::chrono::steady_clock::now();
  testing::Destroy(input);
  CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(3));
  // Stopping and closing the pin gave the read back in the end.
  CHECK(winsim::PendingRequestCount() == 0);
}

TEST_CASE("inputs destroyed while their receive thread is still starting the pin") {
  OpenDevice open;
  for (int i = 0; i < 20; ++i) testing::Destroy(open.device->OpenInput(0));
  CHECK(winsim::PendingRequestCount() == 0);
  for (const auto& pin : winsim::PinInstances(open.path)) CHECK_FALSE(pin.open);
}
