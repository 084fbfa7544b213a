// Each scenario is what a host does with the client library, with the results the library
// may give: exact in the clean run, one of the defined results under a fault (null, false, 0
// devices, bytes dropped), and never a byte repeated, changed or sent to or taken from
// another device.
#include "campaign/client_scenarios.h"

#include <atomic>
#include <climits>
#include <thread>

#include "campaign/case_guard.h"
#include "campaign/host.h"
#include "support/library_copies.h"
#include "support/lazy_read_only_buffer.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"

namespace campaign {
namespace {

const size_t kStreamBytes = 1300;
// An input that has not started within this bound under a fault is taken as one whose start
// failed (it then receives nothing, which is a defined result). The clean run waits longer.
const int kStartLimitMs = 300;
const int kCleanLimitMs = 5000;
const int kQuietLimitMs = 1000;

void TARROWIN_CALLBACK CountNotification(void* context) { ++*static_cast<int*>(context); }

// VODICreate is null only when memory cannot be obtained.
void CheckConnection(Checks& checks, Connection* connection) {
  checks.Expect(connection != nullptr || checks.Point().call == kAllocation,
                "VODICreate returned null without an allocation failure");
}

// A host's VODICreate, checked.
Connection* NewConnection(Checks& checks, TarrowinHiddenMIDI::NotifyCallback callback = nullptr,
                          void* context = nullptr) {
  Connection* connection = VODICreate(callback, context);
  CheckConnection(checks, connection);
  return connection;
}

// One device's input and output, opened as a host opens them.
struct Ports {
  Device* device = nullptr;
  Input* input = nullptr;
  Output* output = nullptr;
  Receiver received;
  std::string path;
  std::vector<Byte> sent;  // everything this device was sent

  void Open(Checks& checks) {
    input = device->OpenInput(0);
    output = device->OpenOutput(0);
    checks.Expect(!checks.Clean() || (input != nullptr && output != nullptr), "a port is null in the clean run");
    if (input) input->SetCallback(Receiver::Collect, &received);
  }

  // Waits for the input's receive thread; a failed start is a defined result under a fault.
  void WaitForStart(Checks& checks) {
    if (!input) return;
    bool started = WaitForReading(path, checks.Clean() ? kCleanLimitMs : kStartLimitMs);
    checks.Expect(started || !checks.Clean(), "the input did not start in the clean run");
  }

  void Send(Checks& checks, const std::vector<Byte>& bytes) {
    if (!output) return;
    checks.Expect(output->Send(bytes.data(), static_cast<int>(bytes.size())), "Send returned false");
  }

  void WaitForBytes(Checks& checks, size_t expected, bool pumpMessages = false) {
    if (!input) return;
    // A clean run must bring every byte back: a read the receive thread retries after a pause
    // leaves the pin briefly without a read, which is not yet silence.
    bool quiet = checks.Clean() ? WaitForByteCount(received, expected, kCleanLimitMs, pumpMessages)
                                : WaitForQuiet(path, received, expected, kQuietLimitMs, pumpMessages);
    checks.Expect(quiet, "the input's pin runs without a read pending for " + std::to_string(kQuietLimitMs) +
                             " ms: a present device that no longer delivers");
  }

  // What came back and what the driver took are pieces of what this device was sent.
  void CheckBytes(Checks& checks, const std::string& what, size_t exactBytes) {
    size_t delivered = 0, written = 0;
    std::string wrong = CheckPieces(received.Records(), sent, &delivered);
    checks.Expect(wrong.empty(), what + " input: " + wrong);
    wrong = CheckPieces(WrittenRecords(path), sent, &written);
    checks.Expect(wrong.empty(), what + " writes: " + wrong);
    if (checks.Clean()) {
      checks.Expect(delivered == exactBytes, what + ": " + std::to_string(delivered) + " of " +
                                                 std::to_string(exactBytes) + " bytes came back in the clean run");
    }
    checks.Expect(MostPendingReadsSeen() <= 1, "two reads were pending at once on one capture pin");
  }

  void Close() {
    if (input) Destroy(input);
    if (output) Destroy(output);
    if (device) Destroy(device);
  }
};

// A scenario on one hidden-port loopback device.
class OneLoopbackDevice : public Scenario {
 public:
  void Build() override { m_device = PlugHiddenLoopback("0A3C", "Tarrowin MIDI"); }

 protected:
  winsim::DeviceId m_device = 0;
};

// A scenario on two hidden-port loopback devices, A listed before B.
class TwoLoopbackDevices : public Scenario {
 public:
  void Build() override {
    m_devices[0] = PlugHiddenLoopback("0A3C", "Tarrowin A", 1);
    m_devices[1] = PlugHiddenLoopback("0B5D", "Tarrowin B", 2);
  }

 protected:
  winsim::DeviceId m_devices[2] = {0, 0};
};

// VODICreate with a callback; devices arrive and leave; VODIDestroy.
class ConnectionScenario : public Scenario {
 public:
  void Run(Checks& checks) override {
    int notifications = 0;
    Connection* connection = NewConnection(checks, CountNotification, &notifications);
    if (!connection) return;
    winsim::DeviceId hidden = PlugHiddenLoopback("0A3C", "Tarrowin MIDI");
    winsim::DeviceId audio = PlugOrdinaryAudio(1);
    PumpMessages();
    winsim::UnplugDevice(hidden);
    winsim::UnplugDevice(audio);
    PumpMessages();
    checks.Expect(notifications <= 4, std::to_string(notifications) + " notifications for 4 interface events");
    checks.Expect(!checks.Clean() || notifications == 4, "not one notification per event in the clean run");
    VODIDestroy(connection);
  }
};

// Count, create and name: one hidden-port device beside an ordinary audio device.
class DevicesScenario : public Scenario {
 public:
  void Build() override {
    PlugHiddenLoopback("0A3C", "Tarrowin MIDI");
    PlugOrdinaryAudio(1);
  }
  void Run(Checks& checks) override {
    Connection* connection = NewConnection(checks);
    if (!connection) return;
    unsigned int count = connection->GetDeviceCount();
    checks.Expect(count <= 1, std::to_string(count) + " devices counted, 1 present");
    checks.Expect(!checks.Clean() || count == 1, "the device is not counted in the clean run");
    Device* device = connection->CreateDevice(0);
    checks.Expect(!checks.Clean() || device != nullptr, "CreateDevice(0) is null in the clean run");
    if (device) {
      std::string name = device->GetName();
      checks.Expect(name == "Tarrowin MIDI" || (name.empty() && !checks.Clean()), "the name is \"" + name + "\"");
      checks.Expect(device->GetProductId() == 0x0A3C, "the device is not the hidden-port device");
      checks.Expect(device->GetTypeCode() == 67 && device->GetInputCount() == 1 && device->GetOutputCount() == 1,
                    "a constant of the device is wrong");
      Destroy(device);
    }
    Device* beyond = connection->CreateDevice(1);
    checks.Expect(beyond == nullptr, "CreateDevice(1) made a device with one present");
    if (beyond) Destroy(beyond);
    VODIDestroy(connection);
  }
};

// Open input and output, send 1,300 bytes and receive them back through the loopback.
class LoopbackScenario : public Scenario {
 public:
  void Build() override { m_device = PlugHiddenLoopback("0A3C", "Tarrowin MIDI"); }
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    Connection* connection = NewConnection(checks);
    if (!connection) return;
    Ports ports;
    ports.path = winsim::InterfacePath(m_device);
    ports.sent = StreamBytes(0, 0, kStreamBytes);
    ports.device = connection->CreateDevice(0);
    checks.Expect(!checks.Clean() || ports.device != nullptr, "CreateDevice(0) is null in the clean run");
    if (ports.device) {
      ports.Open(checks);
      ports.WaitForStart(checks);
      ports.Send(checks, ports.sent);
      ports.WaitForBytes(checks, kStreamBytes);
      ports.CheckBytes(checks, "loopback", kStreamBytes);
    }
    ports.Close();
    VODIDestroy(connection);
  }

 private:
  winsim::DeviceId m_device = 0;
};

// The same, with the device unplugged in the middle of the stream; the host then destroys its
// objects, counts again after the replug, reopens and streams again.
class UnplugReplugScenario : public Scenario {
 public:
  void Build() override { m_device = PlugHiddenLoopback("0A3C", "Tarrowin MIDI"); }
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    int notifications = 0;
    Connection* connection = NewConnection(checks, CountNotification, &notifications);
    if (!connection) return;
    const std::string path = winsim::InterfacePath(m_device);
    const size_t kChunk = 100, kChunksBeforeUnplug = 6;

    Ports before;
    before.path = path;
    before.sent = StreamBytes(0, 0, kStreamBytes);
    before.device = connection->CreateDevice(0);
    checks.Expect(!checks.Clean() || before.device != nullptr, "CreateDevice(0) is null in the clean run");
    if (before.device) {
      before.Open(checks);
      before.WaitForStart(checks);
      for (size_t offset = 0; offset < kStreamBytes; offset += kChunk) {
        if (offset == kChunk * kChunksBeforeUnplug) winsim::UnplugDevice(m_device);
        before.Send(checks, std::vector<Byte>(before.sent.begin() + static_cast<long>(offset),
                                              before.sent.begin() + static_cast<long>(offset + kChunk)));
      }
      // Only the bytes sent before the unplug may arrive.
      before.sent.resize(kChunk * kChunksBeforeUnplug);
      checks.Expect(!before.input || !before.input->IsPresent(), "the input is present after the unplug");
      checks.Expect(!before.output || !before.output->IsPresent(), "the output is present after the unplug");
    } else {
      winsim::UnplugDevice(m_device);
    }
    PumpMessages();
    before.Close();
    before.CheckBytes(checks, "before the unplug", before.received.ByteCount());

    winsim::ReplugDevice(m_device);
    PumpMessages();
    checks.Expect(!checks.Clean() || notifications == 2, "not one notification per event in the clean run");
    unsigned int count = connection->GetDeviceCount();
    checks.Expect(count <= 1 && (count == 1 || !checks.Clean()), std::to_string(count) + " devices after the replug");
    Ports after;
    after.path = path;
    after.sent = StreamBytes(0, kStreamBytes, kStreamBytes);
    after.device = connection->CreateDevice(0);
    if (after.device) {
      after.Open(checks);
      after.WaitForStart(checks);
      after.Send(checks, after.sent);
      after.WaitForBytes(checks, kStreamBytes);
    }
    after.Close();
    // The writes on the path now hold both streams: only the second one's are checked here.
    std::vector<std::vector<Byte>> received = after.received.Records();
    std::string wrong = CheckPieces(received, after.sent);
    checks.Expect(wrong.empty(), "after the replug: " + wrong);
    if (checks.Clean()) checks.Expect(after.received.ByteCount() == kStreamBytes, "bytes lost after the replug");
    VODIDestroy(connection);
  }

 private:
  winsim::DeviceId m_device = 0;
};

// Two connections, each with its own device, streaming at once from two threads.
class TwoDevicesScenario : public TwoLoopbackDevices {
 public:
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    Connection* connections[2] = {VODICreate(nullptr, nullptr), VODICreate(nullptr, nullptr)};
    Ports ports[2];
    for (int i = 0; i < 2; ++i) {
      CheckConnection(checks, connections[i]);
      if (!connections[i]) continue;
      Device* device = connections[i]->CreateDevice(i);
      checks.Expect(!checks.Clean() || device != nullptr, "CreateDevice is null in the clean run");
      if (!device) continue;
      // Which device it is comes from its own interface, whatever position it had.
      int which = device->GetProductId() == 0x0A3C ? 0 : 1;
      if (ports[which].device) {  // both positions named the same device: keep one
        Destroy(device);
        continue;
      }
      ports[which].device = device;
      ports[which].path = winsim::InterfacePath(m_devices[which]);
      ports[which].sent = StreamBytes(which, 0, kStreamBytes);
    }
    for (Ports& port : ports)
      if (port.device) port.Open(checks);
    for (Ports& port : ports)
      if (port.device) port.WaitForStart(checks);
    std::thread senders[2];
    bool sendResults[2] = {true, true};
    for (int i = 0; i < 2; ++i)
      if (ports[i].output)
        senders[i] = std::thread([&, i] {
          sendResults[i] = ports[i].output->Send(ports[i].sent.data(), static_cast<int>(ports[i].sent.size()));
        });
    for (std::thread& sender : senders)
      if (sender.joinable()) sender.join();
    checks.Expect(sendResults[0] && sendResults[1], "Send returned false");
    for (Ports& port : ports)
      if (port.device) port.WaitForBytes(checks, kStreamBytes);
    for (int i = 0; i < 2; ++i) {
      // A device that no port reached must have received nothing.
      if (!ports[i].device) ports[i].path = winsim::InterfacePath(m_devices[i]);
      if (!ports[i].device) ports[i].sent.clear();
      ports[i].CheckBytes(checks, i == 0 ? "device A" : "device B", ports[i].device ? kStreamBytes : 0);
    }
    for (Ports& port : ports) port.Close();
    for (Connection* connection : connections)
      if (connection) VODIDestroy(connection);
  }
};

// The host patterns of real applications at the library's boundary, each on a loopback
// stream: callbacks that call back in or hand their bytes to a window, device events while
// the host changes callbacks, and the largest lengths Send accepts. Ten records a stream are
// enough for each pattern and keep its injection points few.
const size_t kPatternBytes = 120;

// Opens the ports of the loopback device at `position` on a connection, as the streams above
// do. A fault may list another device there (one before it was skipped): then none is opened.
void OpenLoopback(Checks& checks, Connection* connection, winsim::DeviceId id, int position, Ports& ports) {
  ports.path = winsim::InterfacePath(id);
  ports.sent = StreamBytes(position, 0, kPatternBytes);
  ports.device = connection->CreateDevice(position);
  checks.Expect(!checks.Clean() || ports.device != nullptr, "CreateDevice is null in the clean run");
  if (ports.device && ports.device->GetProductId() != (position == 0 ? 0x0A3C : 0x0B5D)) Destroy(ports.device);
  if (ports.device) ports.Open(checks);
}

// A GUI host: the input's callback hands each record to the host's window with SendMessage,
// and the window procedure keeps it and sets the input's callback again.
struct WindowHost {
  Input* input = nullptr;
  Receiver* received = nullptr;
  HWND window = nullptr;
  std::atomic<int> inCallback{0};
};
WindowHost* g_windowHost = nullptr;
const char kHostWindowClass[] = "CampaignHostWindow";
struct HostRecord {
  const unsigned char* data;
  unsigned int count;
};

void TARROWIN_CALLBACK SendToHostWindow(const unsigned char* data, unsigned int count, void* context) {
  auto* host = static_cast<WindowHost*>(context);
  ++host->inCallback;
  HostRecord record{data, count};
  SendMessageA(host->window, WM_USER, 0, reinterpret_cast<LPARAM>(&record));  // failing: the record is lost
  --host->inCallback;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_USER || g_windowHost == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  const auto* record = reinterpret_cast<const HostRecord*>(lParam);
  Receiver::Collect(record->data, record->count, g_windowHost->received);
  g_windowHost->input->SetCallback(SendToHostWindow, g_windowHost);
  return 1;
}

class WindowSetsCallbackScenario : public OneLoopbackDevice {
 public:
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    Connection* connection = NewConnection(checks);
    if (!connection) return;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHostWindowClass;
    bool registered = RegisterClassExA(&windowClass) != 0;
    WindowHost host;
    g_windowHost = &host;
    host.window = CreateWindowExA(0, kHostWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    Ports ports;
    OpenLoopback(checks, connection, m_device, 0, ports);
    host.input = ports.input;
    host.received = &ports.received;
    // Without its window the host keeps the plain callback.
    if (ports.input && host.window) ports.input->SetCallback(SendToHostWindow, &host);
    ports.WaitForStart(checks);
    ports.Send(checks, ports.sent);
    ports.WaitForBytes(checks, kPatternBytes, true);
    // A host stops the sends to its window before destroying the input: the input's destructor
    // waits for a callback that may be waiting for this thread.
    if (ports.input) ports.input->SetCallback(nullptr, nullptr);
    WaitUntil(
        [&] {
          PumpMessages();
          return host.inCallback == 0;
        },
        std::chrono::milliseconds(kCleanLimitMs));
    ports.Close();
    ports.CheckBytes(checks, "through the window", kPatternBytes);
    if (host.window) DestroyWindow(host.window);
    if (registered) UnregisterClassA(kHostWindowClass, GetModuleHandleA(nullptr));
    g_windowHost = nullptr;
    VODIDestroy(connection);
  }
};

// Each input's callback sets the other input's callback; the host stops that before it
// destroys them, and waits for the callbacks that may still be doing it.
struct CrossHost {
  std::atomic<bool> stopping{false};
  std::atomic<int> inCallback{0};
};
struct CrossInput {
  CrossHost* host = nullptr;
  Receiver* received = nullptr;
  Input* other = nullptr;
  CrossInput* otherState = nullptr;
};

void TARROWIN_CALLBACK SetOtherCallback(const unsigned char* data, unsigned int count, void* context) {
  auto* state = static_cast<CrossInput*>(context);
  ++state->host->inCallback;
  Receiver::Collect(data, count, state->received);
  if (!state->host->stopping && state->other) state->other->SetCallback(SetOtherCallback, state->otherState);
  --state->host->inCallback;
}

class CrossInputScenario : public TwoLoopbackDevices {
 public:
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    Connection* connection = NewConnection(checks);
    if (!connection) return;
    // Positions follow the paths, which follow the instance ids: A is listed first.
    Ports ports[2];
    for (int i = 0; i < 2; ++i) OpenLoopback(checks, connection, m_devices[i], i, ports[i]);
    CrossHost host;
    CrossInput states[2];
    for (int i = 0; i < 2; ++i) {
      states[i] = CrossInput{&host, &ports[i].received, ports[1 - i].input, &states[1 - i]};
      if (ports[i].input) ports[i].input->SetCallback(SetOtherCallback, &states[i]);
    }
    for (Ports& port : ports) port.WaitForStart(checks);
    std::thread sender([&] { ports[1].Send(checks, ports[1].sent); });
    ports[0].Send(checks, ports[0].sent);
    sender.join();
    for (Ports& port : ports) port.WaitForBytes(checks, kPatternBytes);
    host.stopping = true;
    WaitUntil([&] { return host.inCallback == 0; }, std::chrono::milliseconds(kCleanLimitMs));
    for (int i = 0; i < 2; ++i) {
      ports[i].Close();
      ports[i].CheckBytes(checks, i == 0 ? "input A" : "input B", kPatternBytes);
    }
    VODIDestroy(connection);
  }
};

// A host that destroys its ports when notified, as the host guide says, changes its input's
// callback on the connection's thread while a delivery runs and a device arrives: the
// notification must wait for the host's own message retrieval.
struct NotifiedHost {
  Ports* ports = nullptr;
  bool inSetCallback = false;
  bool notifiedInsideSetCallback = false;
  int notifications = 0;
  std::atomic<bool> entered{false}, release{false};
};

void TARROWIN_CALLBACK ClosePortsOnNotification(void* context) {
  auto* host = static_cast<NotifiedHost*>(context);
  ++host->notifications;
  if (host->inSetCallback) host->notifiedInsideSetCallback = true;
  if (host->ports) host->ports->Close();
}

void TARROWIN_CALLBACK CollectAfterRelease(const unsigned char* data, unsigned int count, void* context) {
  auto* host = static_cast<NotifiedHost*>(context);
  Receiver::Collect(data, count, &host->ports->received);
  host->entered = true;
  WaitUntil([&] { return host->release.load(); }, std::chrono::milliseconds(kCleanLimitMs));
}

class EventDuringSetCallbackScenario : public OneLoopbackDevice {
 public:
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    NotifiedHost host;
    Connection* connection = NewConnection(checks, ClosePortsOnNotification, &host);
    if (!connection) return;
    Ports ports;
    OpenLoopback(checks, connection, m_device, 0, ports);
    host.ports = &ports;
    if (ports.input) ports.input->SetCallback(CollectAfterRelease, &host);
    ports.WaitForStart(checks);
    ports.Send(checks, ports.sent);
    WaitUntil([&] { return host.entered.load(); }, std::chrono::milliseconds(checks.Clean() ? kCleanLimitMs : kStartLimitMs));
    winsim::DeviceId audio = PlugOrdinaryAudio(1);  // its notification waits for this thread
    host.inSetCallback = true;
    if (ports.input) ports.input->SetCallback(Receiver::Collect, &ports.received);
    host.inSetCallback = false;
    checks.Expect(!host.notifiedInsideSetCallback, "the NotifyCallback ran inside SetCallback");
    host.release = true;
    ports.WaitForBytes(checks, kPatternBytes);
    PumpMessages();  // the host closes its ports here
    checks.Expect(!checks.Clean() || (host.notifications == 1 && ports.input == nullptr),
                  "the arrival was not handled in the host's own message retrieval in the clean run");
    ports.Close();
    ports.CheckBytes(checks, "around the device event", kPatternBytes);
    winsim::UnplugDevice(audio);
    VODIDestroy(connection);
  }
};

// Send with the largest lengths it accepts, from a read-only buffer whose last byte is followed
// by a page that cannot be read: the tail of it through the loopback, then, once the device is
// gone, all of it, which costs one refused write and one trace line per call.
class LargestSendsScenario : public OneLoopbackDevice {
 public:
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    testing::LazyReadOnlyBuffer buffer(INT_MAX);
    checks.Expect(buffer.Mapped(), "2 GiB of address space could not be reserved for the buffer");
    if (!buffer.Mapped()) return;
    Connection* connection = NewConnection(checks);
    if (!connection) return;
    Ports ports;
    OpenLoopback(checks, connection, m_device, 0, ports);
    const unsigned char* tail = buffer.Data() + buffer.Size() - kPatternBytes;
    ports.sent.assign(tail, tail + kPatternBytes);
    ports.WaitForStart(checks);
    if (ports.output) checks.Expect(ports.output->Send(tail, static_cast<int>(kPatternBytes)), "Send returned false");
    ports.WaitForBytes(checks, kPatternBytes);
    if (ports.output) {
      winsim::UnplugDevice(m_device);
      winsim::ClearDebugOutput();
      for (int length : {INT_MAX, INT_MAX - 126}) {
        checks.Expect(ports.output->Send(buffer.Data(), length), "Send returned false");
      }
      size_t lines = 0;
      for (const std::string& line : winsim::DebugOutput()) lines += line.find("WriteData") != std::string::npos;
      checks.Expect(lines <= 2, std::to_string(lines) + " trace lines for two calls whose writes were refused");
    }
    ports.Close();
    ports.CheckBytes(checks, "the buffer's tail", kPatternBytes);
    VODIDestroy(connection);
  }
};

// A plug-in host: two plug-ins ship the library in their own folders, and a ksuser.dll lies
// beside the host. The first copy's connection is destroyed and the copy freed while the second
// copy streams; device events then reach the second copy's connection, and neither copy ever
// uses the planted ksuser.dll.
class LibraryCopiesScenario : public Scenario {
 public:
  void Build() override {
    m_device = PlugHiddenLoopback("0A3C", "Tarrowin MIDI");
    winsim::RegisterApplicationModule("ksuser.dll", {{"KsCreatePin", PlantedKsCreatePin()}});
    g_plantedCalls = 0;
  }
  void Run(Checks& checks) override {
    ResetPendingReadsSeen();
    testing::LibraryCopy copies[2] = {Files().Load(0), Files().Load(1)};
    checks.Expect(!checks.Clean() || (copies[0].module && copies[1].module), "a copy did not load in the clean run");
    checks.Expect(!copies[0].module || copies[0].module != copies[1].module, "two copies are one module");
    Connection* first = copies[0].module ? copies[0].create(nullptr, nullptr) : nullptr;
    int notifications = 0;
    Connection* second = copies[1].module ? copies[1].create(CountNotification, &notifications) : nullptr;
    if (copies[1].module) CheckConnection(checks, second);
    Ports ports;
    ports.path = winsim::InterfacePath(m_device);
    ports.sent = StreamBytes(0, 0, kStreamBytes);
    if (second) ports.device = second->CreateDevice(0);
    if (ports.device) {
      ports.Open(checks);
      ports.WaitForStart(checks);
    }
    if (first) copies[0].destroy(first);
    if (copies[0].module) FreeLibrary(copies[0].module);
    ports.Send(checks, ports.sent);
    winsim::DeviceId audio = PlugOrdinaryAudio(1);
    PumpMessages();
    ports.WaitForBytes(checks, kStreamBytes);
    ports.CheckBytes(checks, "the second copy", ports.device ? kStreamBytes : 0);
    checks.Expect(!checks.Clean() || notifications == 1, "the second copy missed the device event in the clean run");
    checks.Expect(g_plantedCalls == 0, "the ksuser.dll planted beside the host was used");
    winsim::UnplugDevice(audio);
    ports.Close();
    if (second) copies[1].destroy(second);
    if (copies[1].module) FreeLibrary(copies[1].module);
  }

 private:
  static const testing::LibraryCopies& Files() {
    static const testing::LibraryCopies files(2);
    return files;
  }
  static DWORD WINAPI RecordPlantedCall(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE) {
    ++g_plantedCalls;
    return ERROR_SUCCESS;
  }
  static FARPROC PlantedKsCreatePin() { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(RecordPlantedCall)); }
  static inline std::atomic<int> g_plantedCalls{0};
  winsim::DeviceId m_device = 0;
};

// VODIDestroy on a thread that did not create the connection: the window cannot be destroyed
// there and stays; the device events already sent to it must not reach the freed connection.
class WrongThreadDestroyScenario : public Scenario {
 public:
  void Run(Checks& checks) override {
    int notifications = 0;
    Connection* connection = NewConnection(checks, CountNotification, &notifications);
    if (!connection) return;
    winsim::DeviceId audio = PlugOrdinaryAudio(1);
    std::thread([&] { VODIDestroy(connection); }).join();
    winsim::UnplugDevice(audio);
    PumpMessages();
    checks.Expect(notifications == 0, "a device event reached a connection destroyed on another thread");
  }
};

}  // namespace

std::vector<ScenarioEntry> ClientScenarios() {
  return {
      Entry<ConnectionScenario>("client: connection and notifications"),
      Entry<DevicesScenario>("client: count, create, name"),
      Entry<LoopbackScenario>("client: 1,300 bytes through a loopback"),
      Entry<UnplugReplugScenario>("client: unplug and replug while streaming"),
      Entry<TwoDevicesScenario>("client: two connections, two devices at once"),
      Entry<LibraryCopiesScenario>("client: two copies of the library, the first freed while the second streams"),
      Entry<WrongThreadDestroyScenario>("client: VODIDestroy on another thread, then device events"),
      Entry<WindowSetsCallbackScenario>("client: callback sends to a window that sets it"),
      Entry<CrossInputScenario>("client: two inputs set each other's callback"),
      Entry<EventDuringSetCallbackScenario>("client: device arrives during SetCallback"),
      Entry<LargestSendsScenario>("client: Send with the largest lengths"),
  };
}

}  // namespace campaign
