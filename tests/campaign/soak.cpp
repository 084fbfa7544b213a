// The soak: for a bounded time several hidden-port devices stream in both directions while host
// threads send to them from several threads, devices are unplugged and replugged at random
// moments, ports and devices are destroyed and reopened in random order, and inputs get their
// callback set again while records stream in. Afterwards every byte the driver took must be a
// piece of what the host sent to that device, every byte received a piece of what the device
// took, in order, with bytes missing only where an unplug or a port's destruction cut them;
// nothing hangs and nothing leaks.
//   soak [--seconds N] [--seed N]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "campaign/case_guard.h"
#include "campaign/host.h"
#include "winsim/control.h"
#include "winsim/control_ks.h"

namespace campaign {
namespace {

const int kDevices = 3;
const int kSenders = 3;
const Byte kDeviceBits = 0xC0;  // the top two bits of every byte name its device
const int kPinStartLimitMs = 300;

// One device and what the host holds of it. The host never uses an object on one thread while
// destroying it on another: `lock` orders the senders and the thread that reopens.
struct Slot {
  std::mutex lock;
  int index = 0;
  winsim::DeviceId id = 0;
  std::string path, name;
  Device* device = nullptr;
  Input* input = nullptr;
  Output* output = nullptr;
  std::vector<Byte> sent;  // every byte handed to this slot's outputs, in order
  Receiver received;       // one receiver for all of the slot's inputs, one after the other
  uint64_t sends = 0, inputsOpened = 0, inputsDestroyed = 0, reopens = 0;
  std::atomic<uint64_t> unplugs{0};
};

Slot g_slots[kDevices];
std::atomic<bool> g_stop{false};
std::atomic<uint64_t> g_crossDevice{0};

// Only the reopening thread makes pins, so the device whose pin count grows is the one a port
// just reached.
std::vector<int> PinOpens() {
  std::vector<int> opens;
  for (Slot& slot : g_slots) opens.push_back(winsim::InterfaceOpenCounts(slot.path).pinOpens);
  return opens;
}

int Reached(const std::vector<int>& before) {
  std::vector<int> now = PinOpens();
  for (int d = 0; d < kDevices; ++d)
    if (now[d] != before[d]) return d;
  return -1;
}

// A port that reached another device than its own is reported and closed again.
template <typename Port>
bool ReachedOwnDevice(Slot& slot, Port*& port, int reached) {
  if (reached < 0 || reached == slot.index) return true;
  ++g_crossDevice;
  std::printf("FAILED soak: a port of device %d reached device %d\n", slot.index, reached);
  Destroy(port);
  return false;
}

std::vector<Byte> Message(std::mt19937& random, int device) {
  std::vector<Byte> bytes(std::uniform_int_distribution<size_t>(1, 1500)(random));
  for (Byte& b : bytes) b = static_cast<Byte>((device << 6) | (random() & 0x3F));
  return bytes;
}

void Sender(unsigned seed) {
  std::mt19937 random(seed);
  while (!g_stop) {
    Slot& slot = g_slots[random() % kDevices];
    std::vector<Byte> bytes = Message(random, slot.index);
    {
      std::lock_guard guard(slot.lock);
      if (slot.output) {
        slot.output->Send(bytes.data(), static_cast<int>(bytes.size()));
        slot.sent.insert(slot.sent.end(), bytes.begin(), bytes.end());
        ++slot.sends;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
  }
}

// The device object is found again by its name, whatever position it has now.
Device* FindDevice(Connection* connection, const std::string& name) {
  unsigned count = connection->GetDeviceCount();
  for (unsigned i = 0; i < count; ++i) {
    Device* device = connection->CreateDevice(static_cast<int>(i));
    if (device && name == device->GetName()) return device;
    if (device) Destroy(device);
  }
  return nullptr;
}

// The host's second callback for the same receiver.
void TARROWIN_CALLBACK CollectRetargeted(const unsigned char* data, unsigned int count, void* context) {
  Receiver::Collect(data, count, context);
}

void Reopener(Connection* connection, unsigned seed) {
  std::mt19937 random(seed);
  while (!g_stop) {
    Slot& slot = g_slots[random() % kDevices];
    {
      std::lock_guard guard(slot.lock);
      switch (random() % 7) {
        case 0:
          if (slot.input) {
            Destroy(slot.input);
            ++slot.inputsDestroyed;
          }
          break;
        case 1:
          if (slot.output) Destroy(slot.output);
          break;
        case 2:
          if (slot.device) Destroy(slot.device);  // its ports go on working
          break;
        case 3:
          // A host that re-targets its input while records stream in: the pair is swapped
          // without waiting for the delivery in progress.
          if (slot.input) slot.input->SetCallback(random() % 2 ? Receiver::Collect : CollectRetargeted, &slot.received);
          break;
        default:
          if (!slot.device) slot.device = FindDevice(connection, slot.name);
          if (slot.device && !slot.input) {
            std::vector<int> before = PinOpens();
            slot.input = slot.device->OpenInput(0);
            // Its pin is made by its receive thread; an input whose start fails makes none.
            int reached = -1;
            WaitUntil([&] { return (reached = Reached(before)) >= 0; }, std::chrono::milliseconds(kPinStartLimitMs));
            if (slot.input && ReachedOwnDevice(slot, slot.input, reached)) {
              slot.input->SetCallback(Receiver::Collect, &slot.received);
              ++slot.inputsOpened;
            }
          }
          if (slot.device && !slot.output) {
            std::vector<int> before = PinOpens();
            slot.output = slot.device->OpenOutput(0);
            if (slot.output) ReachedOwnDevice(slot, slot.output, Reached(before));
          }
          ++slot.reopens;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
  }
}

void Unplugger(unsigned seed) {
  std::mt19937 random(seed);
  while (!g_stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 40));
    Slot& slot = g_slots[random() % kDevices];
    winsim::UnplugDevice(slot.id);
    ++slot.unplugs;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
    winsim::ReplugDevice(slot.id);
  }
}

void TARROWIN_CALLBACK CountNotification(void* context) { ++*static_cast<uint64_t*>(context); }

std::vector<Byte> Joined(const std::vector<std::vector<Byte>>& records) {
  std::vector<Byte> all;
  for (const auto& record : records) all.insert(all.end(), record.begin(), record.end());
  return all;
}

struct Totals {
  uint64_t sends = 0, writes = 0, records = 0, bytesReceived = 0, unplugs = 0, reopens = 0, notifications = 0;
  int failures = 0;
};

void CheckSlot(Slot& slot, Totals& totals) {
  auto fail = [&](const std::string& what) {
    std::printf("FAILED soak, device %d: %s\n", slot.index, what.c_str());
    ++totals.failures;
  };
  std::vector<std::vector<Byte>> writes = WrittenRecords(slot.path);
  std::vector<std::vector<Byte>> records = slot.received.Records();
  std::string wrong = CheckPieces(writes, slot.sent, nullptr, nullptr, kDeviceBits);
  if (!wrong.empty()) fail("what the driver took: " + wrong);
  size_t delivered = 0, gaps = 0;
  wrong = CheckPieces(records, Joined(writes), &delivered, &gaps, kDeviceBits);
  if (!wrong.empty()) fail("what came back: " + wrong);
  // Bytes go missing only where an unplug emptied the device, an input's destruction ended the
  // read that held them, or a new input read them before its callback was set (and once at
  // the end, for what was still on its way).
  uint64_t allowed = slot.unplugs + slot.inputsDestroyed + slot.inputsOpened + 1;
  if (gaps > allowed)
    fail(std::to_string(gaps) + " places with bytes missing, only " + std::to_string(allowed) + " cuts");
  totals.sends += slot.sends;
  totals.writes += writes.size();
  totals.records += records.size();
  totals.bytesReceived += delivered;
  totals.unplugs += slot.unplugs;
  totals.reopens += slot.reopens;
}

}  // namespace
}  // namespace campaign

int main(int argc, char** argv) {
  using namespace campaign;
  int seconds = 20;
  unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--seed") == 0) seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
  }
  std::printf("soak: %d s, seed %u\n", seconds, seed);
  BeginCase("the soak (seed " + std::to_string(seed) + ")", std::chrono::seconds(seconds + 120));
  winsim::Reset();
  for (int d = 0; d < kDevices; ++d) {
    Slot& slot = g_slots[d];
    slot.index = d;
    slot.name = "Soak " + std::to_string(d);
    slot.id = PlugHiddenLoopback("0A3C", slot.name, d);
    slot.path = winsim::InterfacePath(slot.id);
  }
  Totals totals;
  Connection* connection = VODICreate(CountNotification, &totals.notifications);
  std::vector<std::thread> threads;
  for (int i = 0; i < kSenders; ++i) threads.emplace_back(Sender, seed + 1 + i);
  threads.emplace_back(Reopener, connection, seed + 100);
  threads.emplace_back(Unplugger, seed + 200);
  // The creating thread retrieves its messages, as a host's UI thread does.
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  g_stop = true;
  for (std::thread& thread : threads) thread.join();
  for (Slot& slot : g_slots) {
    if (slot.input) {
      campaign::Destroy(slot.input);
      ++slot.inputsDestroyed;
    }
    if (slot.output) campaign::Destroy(slot.output);
    if (slot.device) campaign::Destroy(slot.device);
  }
  PumpMessages();
  VODIDestroy(connection);
  for (Slot& slot : g_slots) CheckSlot(slot, totals);
  totals.failures += static_cast<int>(g_crossDevice);
  if (winsim::PendingRequestCount() != 0) {
    std::printf("FAILED soak: %zu requests still pending\n", winsim::PendingRequestCount());
    ++totals.failures;
  }
  if (winsim::LiveHandleCount() != 0) {
    std::printf("FAILED soak: %zu handles leaked\n", winsim::LiveHandleCount());
    ++totals.failures;
  }
  EndCase();
  std::printf("soak: %llu messages sent (%llu writes), %llu records (%llu bytes) received back, %llu unplug cycles "
              "survived, %llu reopen rounds, %llu notifications",
              static_cast<unsigned long long>(totals.sends), static_cast<unsigned long long>(totals.writes),
              static_cast<unsigned long long>(totals.records), static_cast<unsigned long long>(totals.bytesReceived),
              static_cast<unsigned long long>(totals.unplugs), static_cast<unsigned long long>(totals.reopens),
              static_cast<unsigned long long>(totals.notifications));
  std::printf("%s\n", totals.failures ? ", FAILED" : "");
  return totals.failures == 0 ? 0 : 1;
}
