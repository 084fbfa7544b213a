#include "benchmarks/operations.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "benchmarks/install_operations.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"

namespace bench {
namespace {

const int kSendChunk = 640;

void Add(Counts& counts, const Counts& more, uint64_t times = 1) {
  for (const auto& [name, count] : more) counts[name] += count * times;
}

// One property request through the I/O-control target: its own event, the request, the close
// (the simulated driver answers at once, so there is no wait).
const Counts kPropertyRequest = {{"CreateEventA", 1}, {"DeviceIoControl", 1}, {"CloseHandle", 1}};

// An interface the enumeration examines: its detail, a record with the interface key's name
// read through a set of its own, the filter opened, its pin count asked, and per pin factory
// the data ranges (size query and value).
Counts ExaminedInterface(uint64_t pinFactories) {
  Counts counts = {{"SetupDiEnumDeviceInterfaces", 1},
                   {"SetupDiGetDeviceInterfaceDetailA", 1},
                   {"SetupDiCreateDeviceInfoList", 1},
                   {"SetupDiOpenDeviceInterfaceA", 1},
                   {"SetupDiOpenDeviceInterfaceRegKey", 1},
                   {"RegQueryValueExA", 1},
                   {"RegCloseKey", 1},
                   {"SetupDiDestroyDeviceInfoList", 1},
                   {"CreateFileA", 1}};
  Add(counts, kPropertyRequest, 1 + 2 * pinFactories);
  return counts;
}

// A pin the MIDI filter keeps: its nine description requests, three of them two requests each.
const uint64_t kPinDescriptionRequests = 12;

// The enumeration on the benchmark machine: the hidden port (two pin factories, both kept) and
// `others` ordinary audio interfaces (three pin factories, none kept, each closed again).
// `keptFilters` stay open for the object the operation made.
Counts Enumeration(uint64_t others, uint64_t keptFilters) {
  Counts counts = {{"SetupDiGetClassDevsA", 1}, {"SetupDiEnumDeviceInterfaces", 1},
                   {"SetupDiDestroyDeviceInfoList", 1}};
  Add(counts, ExaminedInterface(2));
  Add(counts, kPropertyRequest, 2 * kPinDescriptionRequests);
  Add(counts, ExaminedInterface(3), others);
  counts["CloseHandle"] += others + 1 - keptFilters;
  return counts;
}

// A port's pin made and stepped to KSSTATE_RUN: KsCreatePin and three state requests.
Counts RunningPin() {
  Counts counts = {{"KsCreatePin", 1}};
  Add(counts, kPropertyRequest, 3);
  return counts;
}

Counts SendCalls(uint64_t bytes) {
  uint64_t writes = (bytes + kSendChunk - 1) / kSendChunk;
  return {{"WaitForSingleObject", 1 + writes}, {"DeviceIoControl", writes}, {"SetEvent", 1}};
}

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::runtime_error(what);
}

// The operation itself, on its machine; what it opened is returned for destruction.
Opened Run(const Operation& operation, TarrowinHiddenMIDI::Device* device, TarrowinHiddenMIDI::Output* output,
           const std::vector<unsigned char>& bytes) {
  const Machine& machine = UseMachine(operation.name == "Send" ? 0 : operation.size, operation.name != "Send");
  if (operation.name == "GetDeviceCount") {
    Require(machine.connection->GetDeviceCount() == 1, "GetDeviceCount is not 1");
    return {};
  }
  if (operation.name == "CreateDevice+OpenOutput") return CreateDeviceAndOpenOutput(machine);
  if (operation.name == "OpenInput") {
    Opened opened = OpenInputOf(device);
    Require(WaitUntilReading(machine), "the input does not read");
    return opened;
  }
  output->Send(bytes.data(), static_cast<int>(bytes.size()));
  return {};
}

}  // namespace

void Opened::DestroyAll() {
  Destroy(input);
  Destroy(output);
  Destroy(device);
  *this = Opened{};
}

bool WaitUntilReading(const Machine& machine) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  auto reading = [&] {
    for (const auto& pin : winsim::PinInstances(machine.hiddenPath))
      if (pin.open && pin.pinId == 1 && pin.state == KSSTATE_RUN && pin.pendingReads == 1) return true;
    return false;
  };
  // Queuing the read is the receive thread's last step but one: its wait on the read comes
  // right after, and is the only wait an input makes before data arrives.
  while (!reading() || winsim::CallCounts()["WaitForSingleObject"] == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TarrowinHiddenMIDI::Device* CreateDevice0(const Machine& machine) {
  TarrowinHiddenMIDI::Device* device = machine.connection->CreateDevice(0);
  Require(device != nullptr, "CreateDevice(0) found no device");
  return device;
}

Opened CreateDeviceAndOpenOutput(const Machine& machine) {
  Opened opened;
  opened.device = CreateDevice0(machine);
  opened.output = opened.device->OpenOutput(0);
  Require(opened.output != nullptr, "OpenOutput(0) failed");
  return opened;
}

Opened OpenInputOf(TarrowinHiddenMIDI::Device* device) {
  Opened opened;
  opened.input = device->OpenInput(0);
  Require(opened.input != nullptr, "OpenInput(0) failed");
  return opened;
}

std::vector<Operation> CountedOperations(const std::vector<int>& scales) {
  std::vector<Operation> operations;
  for (const char* name : {"GetDeviceCount", "CreateDevice+OpenOutput", "OpenInput"})
    for (int others : scales) operations.push_back({name, others});
  for (int bytes : {3, 640, 65536}) operations.push_back({"Send", bytes});
  for (const char* name : kInstallOperations)
    for (int size : scales) operations.push_back({name, size});
  return operations;
}

Counts CountCalls(const Operation& operation) {
  if (IsInstallOperation(operation.name)) {
    Require(RunInstallOperation(operation), operation.Label() + " did not succeed");  // warm-up
    winsim::ResetCallCounts();
    Require(RunInstallOperation(operation), operation.Label() + " did not succeed");
    return winsim::CallCounts();
  }
  const Machine& machine = UseMachine(operation.name == "Send" ? 0 : operation.size, operation.name != "Send");
  // What the operation works on is made beforehand: a device for OpenInput, an output for Send.
  Opened setup;
  if (operation.name == "OpenInput") setup.device = CreateDevice0(machine);
  if (operation.name == "Send") setup = CreateDeviceAndOpenOutput(machine);
  std::vector<unsigned char> bytes(operation.name == "Send" ? operation.size : 0, 0x40);
  if (!bytes.empty()) bytes[0] = 0x90;

  Run(operation, setup.device, setup.output, bytes).DestroyAll();  // warm-up
  winsim::ResetCallCounts();
  Opened opened = Run(operation, setup.device, setup.output, bytes);
  Counts counts = winsim::CallCounts();
  opened.DestroyAll();
  setup.DestroyAll();
  winsim::ClearCapturedWrites(machine.hiddenPath);
  return counts;
}

Counts RequiredCalls(const Operation& operation) {
  if (IsInstallOperation(operation.name)) return RequiredInstallCalls(operation);
  uint64_t others = static_cast<uint64_t>(operation.size);
  if (operation.name == "GetDeviceCount") return Enumeration(others, 0);
  if (operation.name == "CreateDevice+OpenOutput") {
    // Two enumerations, each filter kept (by the device, by the output); the output's two
    // events and its running pin.
    Counts counts = Enumeration(others, 1);
    Add(counts, Enumeration(others, 1));
    counts["CreateEventA"] += 2;
    Add(counts, RunningPin());
    return counts;
  }
  if (operation.name == "OpenInput") {
    // One enumeration, the filter kept; the read event and the receive thread, which runs its
    // pin, queues a read and waits for it.
    Counts counts = Enumeration(others, 1);
    counts["CreateEventA"] += 1;
    counts["CreateThread"] += 1;
    Add(counts, RunningPin());
    counts["DeviceIoControl"] += 1;
    counts["WaitForSingleObject"] += 1;
    return counts;
  }
  return SendCalls(others);
}

uint64_t Total(const Counts& counts) {
  uint64_t total = 0;
  for (const auto& [name, count] : counts) total += count;
  return total;
}

}  // namespace bench
