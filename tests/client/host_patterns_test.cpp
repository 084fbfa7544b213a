// The library under what real hosts do at its boundary: the largest calls, callbacks that call
// back in or hand their bytes to a window, device events while the host changes callbacks,
// drivers that answer with warnings or keep failing.
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "client/hidden_devices.h"
#include "support/lazy_read_only_buffer.h"
#include "support/window_messages.h"

using testing::ConnectionFixture;
using testing::HiddenDevice;
using TarrowinHiddenMIDI::Device;
using TarrowinHiddenMIDI::Input;
using TarrowinHiddenMIDI::Output;

namespace {

const ULONG kCapturePin = 1;

#if defined(__SANITIZE_THREAD__)
const bool kUnderThreadSanitizer = true;
#else
const bool kUnderThreadSanitizer = false;
#endif

// Reports a deadlock instead of hanging: unless the watched pattern finishes within the bound,
// names it and ends the test program (its threads could never be joined).
class DeadlockWatch {
 public:
  explicit DeadlockWatch(const char* pattern, std::chrono::seconds bound = std::chrono::seconds(20))
      : m_thread([this, pattern, bound] {
          std::unique_lock lock(m_lock);
          if (m_done.wait_for(lock, bound, [this] { return m_finished; })) return;
          std::fprintf(stderr, "DEADLOCK: \"%s\" did not finish within %lld s\n", pattern,
                       static_cast<long long>(bound.count()));
          std::fflush(stderr);
          std::_Exit(3);
        }) {}
  ~DeadlockWatch() {
    {
      std::lock_guard guard(m_lock);
      m_finished = true;
    }
    m_done.notify_all();
    m_thread.join();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_done;
  bool m_finished = false;
  std::thread m_thread;
};

struct LoopbackDevice : ConnectionFixture {
  explicit LoopbackDevice(const char* instanceId = nullptr) {
    HiddenDevice hidden;
    hidden.loopback = true;
    if (instanceId != nullptr) hidden.instanceId = instanceId;
    id = testing::Plug(hidden);
    path = testing::PathOf(id);
    device = connection->CreateDevice(0);
    REQUIRE(device != nullptr);
    input = device->OpenInput(0);
    output = device->OpenOutput(0);
    REQUIRE(input != nullptr);
    REQUIRE(output != nullptr);
  }
  ~LoopbackDevice() {
    if (input) testing::Destroy(input);
    if (output) testing::Destroy(output);
    testing::Destroy(device);
  }
  void DestroyInput() {
    testing::Destroy(input);
    input = nullptr;
  }
  // Loops `records` records of 12 bytes back to the input.
  void LoopRecords(size_t records) {
    std::vector<BYTE> bytes(records * 12, 0x42);
    output->Send(bytes.data(), static_cast<int>(bytes.size()));
  }
  winsim::DeviceId id;
  std::string path;
  Device* device;
  Input* input;
  Output* output;
};

size_t LinesContaining(const char* text) {
  size_t count = 0;
  for (const std::string& line : winsim::DebugOutput()) count += line.find(text) != std::string::npos;
  return count;
}

}  // namespace

TEST_CASE("Send with the largest length sends exactly the caller's bytes and reads nothing past them") {
  testing::OpenDevice open;
  Output* output = open.device->OpenOutput(0);
  REQUIRE(output != nullptr);
  // Its last byte is followed by a page that cannot be read.
  testing::LazyReadOnlyBuffer buffer(INT_MAX);
  if (!buffer.Mapped()) {
    MESSAGE("2 GiB of address space in one piece are not available here: not run");
  } else if (kUnderThreadSanitizer) {
    MESSAGE("3,355,444 writes under ThreadSanitizer take minutes and watch no memory: not run");
  } else {
    // The writes are checked as they stream, against the caller's bytes at their offset.
    std::atomic<bool> sent{false};
    size_t offset = 0, writes = 0, wrong = 0;
    auto check = [&] {
      for (const winsim::CapturedWrite& write : winsim::TakeCapturedWrites(open.path)) {
        size_t expected = std::min<size_t>(640, buffer.Size() - std::min(offset, buffer.Size()));
        if (write.byteCount != expected || std::memcmp(write.bytes.data(), buffer.Data() + offset, expected) != 0)
          ++wrong;
        offset += write.byteCount;
        ++writes;
      }
    };
    std::thread checker([&] {
      while (!sent) {
        check();
        Sleep(5);
      }
    });
    CHECK(output->Send(buffer.Data(), INT_MAX));
    sent = true;
    checker.join();
    check();
    CHECK(offset == static_cast<size_t>(INT_MAX));
    CHECK(writes == (static_cast<size_t>(INT_MAX) + 639) / 640);
    CHECK(wrong == 0);
  }
  testing::Destroy(output);
}

TEST_CASE("SetCallback replaces the pair at once, without waiting for the delivery that uses the old one") {
  LoopbackDevice open;
  struct Blocking {
    std::atomic<bool> entered{false}, release{false}, finished{false};
  } blocking;
  open.input->SetCallback(
      [](const unsigned char*, unsigned int, void* context) {
        auto* state = static_cast<Blocking*>(context);
        state->entered = true;
        testing::WaitUntil([&] { return state->release.load(); });
        state->finished = true;
      },
      &blocking);
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  open.LoopRecords(1);
  REQUIRE(testing::WaitUntil([&] { return blocking.entered.load(); }));
  testing::Received received;
  open.input->SetCallback(testing::Collect, &received);
  CHECK_FALSE(blocking.finished);  // returned while the old pair is still in use
  blocking.release = true;
  open.LoopRecords(2);
  CHECK(testing::WaitUntil([&] { return received.Count() == 2; }));
  // Destroying the input is how a host knows that the old context is no longer in use.
  open.DestroyInput();
  CHECK(blocking.finished);
}

TEST_CASE("a delivery uses the old pair or the new one, never one of each") {
  LoopbackDevice open;
  struct Pair {
    std::atomic<int> calls{0}, mixed{0};
  };
  static Pair pairs[2];
  for (Pair& pair : pairs) pair.calls = pair.mixed = 0;
  TarrowinHiddenMIDI::InputCallback callbacks[2] = {
      [](const unsigned char*, unsigned int, void* context) {
        ++pairs[0].calls;
        if (context != &pairs[0]) ++pairs[0].mixed;
      },
      [](const unsigned char*, unsigned int, void* context) {
        ++pairs[1].calls;
        if (context != &pairs[1]) ++pairs[1].mixed;
      }};
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  std::atomic<bool> streaming{true};
  std::thread sender([&] {
    while (streaming) open.LoopRecords(20);
  });
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; pairs[0].calls + pairs[1].calls < 1000 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5); ++i)
    open.input->SetCallback(callbacks[i % 2], &pairs[i % 2]);
  streaming = false;
  sender.join();
  open.DestroyInput();
  CHECK(pairs[0].calls + pairs[1].calls > 0);
  CHECK(pairs[0].mixed + pairs[1].mixed == 0);
}

namespace {

// A callback that hands its bytes to a window with SendMessage; the window procedure calls
// SetCallback on the same input, as the header allows.
struct ToWindow {
  HWND window = nullptr;
  Input* input = nullptr;
  std::atomic<int> answered{0};
};
ToWindow* g_toWindow = nullptr;

void TARROWIN_CALLBACK SendToWindow(const unsigned char*, unsigned int, void* context) {
  auto* state = static_cast<ToWindow*>(context);
  if (SendMessageA(state->window, WM_USER, 0, 0) == 1) ++state->answered;
}

LRESULT CALLBACK SetCallbackProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_USER) return DefWindowProcA(window, message, wParam, lParam);
  g_toWindow->input->SetCallback(SendToWindow, g_toWindow);
  return 1;
}

}  // namespace

TEST_CASE("a window procedure that a callback sends to may call SetCallback on that input") {
  LoopbackDevice open;
  testing::MessageWindow window("HostPatternWindow", SetCallbackProc);
  ToWindow state;
  g_toWindow = &state;
  state.input = open.input;
  state.window = window.Handle();
  open.input->SetCallback(SendToWindow, &state);
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
  {
    DeadlockWatch watch("SendMessage to a window whose procedure calls SetCallback");
    open.LoopRecords(10);
    testing::WaitUntil([&] {
      testing::PumpMessages();
      return state.answered == 10;
    });
    CHECK(state.answered == 10);
    open.DestroyInput();
  }
}

namespace {

// Each input's callback sets the other input's callback.
struct CrossInput {
  Input* other = nullptr;
  CrossInput* otherState = nullptr;
  std::atomic<unsigned> bytes{0};
};

void TARROWIN_CALLBACK SetTheOther(const unsigned char*, unsigned int count, void* context) {
  auto* state = static_cast<CrossInput*>(context);
  state->bytes += count;
  Sleep(1);  // some work of the host's: the two callbacks overlap
  state->other->SetCallback(SetTheOther, state->otherState);
}

}  // namespace

TEST_CASE("two inputs whose callbacks set each other's callback keep delivering") {
  LoopbackDevice a;
  testing::Plug([] {
    HiddenDevice second;
    second.loopback = true;
    second.instanceId = "USB\\VID_1A86&PID_0B5D&MI_00\\7&2";
    return second;
  }());
  // The listing is sorted by path: B is the device that is not A.
  Device* deviceB = a.connection->CreateDevice(a.device->GetProductId() == 0x0A3C ? 1 : 0);
  REQUIRE(deviceB != nullptr);
  if (deviceB->GetProductId() != 0x0B5D) {
    testing::Destroy(deviceB);
    deviceB = a.connection->CreateDevice(0);
  }
  REQUIRE(deviceB->GetProductId() == 0x0B5D);
  Input* inputB = deviceB->OpenInput(0);
  Output* outputB = deviceB->OpenOutput(0);
  REQUIRE(inputB != nullptr);
  REQUIRE(outputB != nullptr);
  CrossInput stateA, stateB;
  stateA.other = inputB;
  stateA.otherState = &stateB;
  stateB.other = a.input;
  stateB.otherState = &stateA;
  a.input->SetCallback(SetTheOther, &stateA);
  inputB->SetCallback(SetTheOther, &stateB);
  {
    DeadlockWatch watch("two inputs whose callbacks set each other's callback");
    std::vector<BYTE> bytes(100 * 12, 0x33);
    std::thread senderB([&] { outputB->Send(bytes.data(), static_cast<int>(bytes.size())); });
    a.output->Send(bytes.data(), static_cast<int>(bytes.size()));
    senderB.join();
    CHECK(testing::WaitUntil([&] { return stateA.bytes == bytes.size() && stateB.bytes == bytes.size(); }));
    testing::Destroy(inputB);
    a.DestroyInput();
  }
  testing::Destroy(outputB);
  testing::Destroy(deviceB);
}

namespace {

// A host as the guide describes it: on a notification it destroys its ports.
struct NotifiedHost {
  Input* input = nullptr;
  bool inSetCallback = false;
  bool notifiedInsideSetCallback = false;
  int notifications = 0;
};

void TARROWIN_CALLBACK DestroyPortsOnNotification(void* context) {
  auto* host = static_cast<NotifiedHost*>(context);
  ++host->notifications;
  if (host->inSetCallback) host->notifiedInsideSetCallback = true;
  if (host->input != nullptr) testing::Destroy(host->input);
  host->input = nullptr;
}

}  // namespace

TEST_CASE("a device event while the owning thread calls SetCallback is handled only in its own message retrieval") {
  testing::Machine machine;
  HiddenDevice hidden;
  hidden.loopback = true;
  std::string path = testing::PathOf(testing::Plug(hidden));
  NotifiedHost host;
  auto* connection = VODICreate(DestroyPortsOnNotification, &host);
  Device* device = connection->CreateDevice(0);
  REQUIRE(device != nullptr);
  host.input = device->OpenInput(0);
  Output* output = device->OpenOutput(0);
  REQUIRE(host.input != nullptr);
  REQUIRE(output != nullptr);
  struct Blocking {
    std::atomic<bool> entered{false}, release{false};
  } blocking;
  host.input->SetCallback(
      [](const unsigned char*, unsigned int, void* context) {
        auto* state = static_cast<Blocking*>(context);
        state->entered = true;
        testing::WaitUntil([&] { return state->release.load(); });
      },
      &blocking);
  REQUIRE(testing::WaitForPendingRead(path, kCapturePin));
  {
    DeadlockWatch watch("SetCallback during a delivery while a device arrives");
    BYTE note[] = {0x90, 0x40, 0x7F};
    output->Send(note, 3);
    REQUIRE(testing::WaitUntil([&] { return blocking.entered.load(); }));
    testing::PlugOrdinaryAudio(1);  // its notification now waits for this thread
    host.inSetCallback = true;
    host.input->SetCallback(nullptr, nullptr);
    host.inSetCallback = false;
    CHECK_FALSE(host.notifiedInsideSetCallback);
    blocking.release = true;
    testing::WaitUntil([&] {
      testing::PumpMessages();
      return host.notifications > 0;
    });
  }
  CHECK(host.notifications == 1);
  CHECK(host.input == nullptr);
  testing::Destroy(output);
  testing::Destroy(device);
  VODIDestroy(connection);
}

TEST_CASE("a read that completes with a warning status delivers its record; one with an error or no data does not") {
  const std::vector<BYTE> noteOn = {0, 0, 0, 0, 3, 0, 0, 0, 0x90, 0x3C, 0x64};
  struct Case {
    DWORD status;
    std::vector<BYTE> frame;  // what the driver writes into the buffer
    size_t delivered;         // records after the first, ordinary one
  };
  for (const Case& c : {Case{ERROR_SUCCESS, noteOn, 1}, Case{ERROR_MORE_DATA, noteOn, 1},
                        Case{ERROR_GEN_FAILURE, noteOn, 0},
                        // STATUS_DEVICE_BUSY and the like carry nothing: not the first record again
                        Case{ERROR_MORE_DATA, {}, 0}}) {
    CAPTURE(c.status);
    CAPTURE(c.frame.size());
    testing::OpenDevice open;
    Input* input = open.device->OpenInput(0);
    REQUIRE(input != nullptr);
    testing::Received received;
    input->SetCallback(testing::Collect, &received);
    REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
    REQUIRE(winsim::CompleteReadRaw(open.path, noteOn, static_cast<ULONG>(noteOn.size()), sizeof(KSSTREAM_HEADER), 0));
    REQUIRE(testing::WaitUntil([&] { return received.Count() == 1; }));
    REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
    REQUIRE(winsim::CompleteReadRaw(open.path, c.frame, static_cast<ULONG>(c.frame.size()), sizeof(KSSTREAM_HEADER), c.status));
    // The next read is queued once the completion has been handled (at once, or after the pause).
    REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));
    CHECK(received.Count() == 1 + c.delivered);
    std::vector<BYTE> expected;
    for (size_t i = 0; i < 1 + c.delivered; ++i) expected.insert(expected.end(), {0x90, 0x3C, 0x64});
    CHECK(received.All() == expected);
    testing::Destroy(input);
  }
}

TEST_CASE("a driver that keeps refusing costs one trace line per run: reads backed off, a Send per call") {
  LoopbackDevice open;
  testing::Received received;
  open.input->SetCallback(testing::Collect, &received);
  REQUIRE(testing::WaitForPendingRead(open.path, kCapturePin));

  // The pending read ends with an error and the next six are refused while the device is
  // there: tried again after 50, 100, 200, 400, 800 ms, then every second.
  winsim::ClearDebugOutput();
  uint64_t opensBefore = winsim::CallCounts()["CreateFileA"];
  winsim::FailRequests({open.path, IOCTL_KS_READ_STREAM}, ERROR_GEN_FAILURE, 6);
  winsim::EndPendingRequests({open.path, IOCTL_KS_READ_STREAM}, ERROR_GEN_FAILURE);
  Sleep(1600);
  CHECK(LinesContaining("DeviceIoControl Failed") == 1);
  // Each pause asks whether the device is still there: 32 times at a steady 50 ms.
  CHECK(winsim::CallCounts()["CreateFileA"] - opensBefore <= 7);
  // The retries go on until the driver takes a read again.
  open.LoopRecords(1);
  CHECK(testing::WaitUntil([&] { return received.Count() == 1; }));

  // After an unplug every write is refused: one line per Send, whatever its length.
  winsim::UnplugDevice(open.id);
  winsim::ClearDebugOutput();
  std::vector<BYTE> bytes(65536, 0x11);
  for (int call = 1; call <= 2; ++call) {
    CHECK(open.output->Send(bytes.data(), static_cast<int>(bytes.size())));
    CHECK(LinesContaining("WriteData's DeviceIoControl Failed") == static_cast<size_t>(call));
  }
}
