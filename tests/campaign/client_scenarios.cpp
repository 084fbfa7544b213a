// Each scenario is what a host does with the client library, with the results the library
// may give: exact in the clean run, one of the defined results under a fault (null, false, 0
// devices, bytes dropped), and never a byte repeated, changed or sent to or taken from
// another device.
#include "campaign/client_scenarios.h"

#include <atomic>
#include <thread>

#include "campaign/host.h"
#include "support/library_copies.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"

namespace campaign {
namespace {

using TarrowinHiddenMIDI::Connection;
using TarrowinHiddenMIDI::Device;
using TarrowinHiddenMIDI::Input;
using TarrowinHiddenMIDI::Output;

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

  void WaitForBytes(Checks& checks, size_t expected) {
    if (!input) return;
    // A clean run must bring every byte back: a read the receive thread retries after a pause
    // leaves the pin briefly without a read, which is not yet silence.
    bool quiet = checks.Clean() ? WaitForByteCount(received, expected, kCleanLimitMs)
                                : WaitForQuiet(path, received, expected, kQuietLimitMs);
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

// VODICreate with a callback; devices arrive and leave; VODIDestroy.
class ConnectionScenario : public Scenario {
 public:
  void Run(Checks& checks) override {
    int notifications = 0;
    Connection* connection = VODICreate(CountNotification, &notifications);
    CheckConnection(checks, connection);
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
    Connection* connection = VODICreate(nullptr, nullptr);
    CheckConnection(checks, connection);
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
    Connection* connection = VODICreate(nullptr, nullptr);
    CheckConnection(checks, connection);
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
    Connection* connection = VODICreate(CountNotification, &notifications);
    CheckConnection(checks, connection);
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
class TwoDevicesScenario : public Scenario {
 public:
  void Build() override {
    m_devices[0] = PlugHiddenLoopback("0A3C", "Tarrowin A", 1);
    m_devices[1] = PlugHiddenLoopback("0B5D", "Tarrowin B", 2);
  }
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

 private:
  winsim::DeviceId m_devices[2] = {0, 0};
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
    Connection* connection = VODICreate(CountNotification, &notifications);
    CheckConnection(checks, connection);
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
  };
}

}  // namespace campaign
