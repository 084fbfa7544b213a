// The loopback: Send on the hidden port's output until the input's callback has the bytes.
// Round-trip latency percentiles, the end-to-end rate of back-to-back messages (all delivered,
// in order), and the resident memory of a host that keeps streaming.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/benchmarks.h"
#include "benchmarks/operations.h"
#include "winsim/control_ks.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// What the input's callback saw; written by the receive thread only.
struct Arrivals {
  std::vector<unsigned char> bytes;  // room made before streaming starts
  std::atomic<size_t> count{0};
  std::atomic<Clock::rep> lastArrival{0};
};

void TARROWIN_CALLBACK OnBytes(const unsigned char* data, unsigned int count, void* context) {
  auto* arrivals = static_cast<Arrivals*>(context);
  size_t at = arrivals->count.load(std::memory_order_relaxed);
  if (at + count <= arrivals->bytes.size()) std::copy(data, data + count, arrivals->bytes.begin() + at);
  arrivals->lastArrival.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  arrivals->count.store(at + count, std::memory_order_release);
}

// The hidden port opened both ways on the loopback machine.
class Loopback {
 public:
  explicit Loopback(size_t room) : m_machine(UseMachine(0, true)) {
    m_arrivals.bytes.resize(room);
    m_opened = CreateDeviceAndOpenOutput(m_machine);
    m_opened.input = OpenInputOf(m_opened.device).input;
    m_opened.input->SetCallback(OnBytes, &m_arrivals);
    if (!WaitUntilReading(m_machine)) throw std::runtime_error("the input does not read");
  }
  ~Loopback() {
    m_opened.DestroyAll();
    winsim::ClearCapturedWrites(m_machine.hiddenPath);
  }
  Loopback(const Loopback&) = delete;
  Loopback& operator=(const Loopback&) = delete;

  void Send(const unsigned char* bytes, int count) { m_opened.output->Send(bytes, count); }
  // Waits, with a bound, until `count` bytes have arrived in all.
  bool WaitForBytes(size_t count) {
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (m_arrivals.count.load(std::memory_order_acquire) < count)
      if (Clock::now() > deadline) return false;
      else std::this_thread::yield();
    return true;
  }
  // One message there and back; seconds from the Send to the callback.
  double RoundTrip(unsigned char data) {
    const unsigned char message[3] = {0x90, static_cast<unsigned char>(data & 0x7F), 0x40};
    size_t expected = m_arrivals.count.load() + sizeof message;
    Clock::time_point start = Clock::now();
    Send(message, sizeof message);
    if (!WaitForBytes(expected)) throw std::runtime_error("a message did not come back");
    if (++m_sent % 256 == 0) winsim::ClearCapturedWrites(m_machine.hiddenPath);
    return Seconds(Clock::duration(m_arrivals.lastArrival.load()) - start.time_since_epoch());
  }
  const Arrivals& arrivals() const { return m_arrivals; }

 private:
  const Machine& m_machine;
  Arrivals m_arrivals;
  Opened m_opened;
  unsigned m_sent = 0;
};

void RoundTripBenchmark(benchmark::State& state, size_t samples) {
  Loopback loopback(0);
  std::vector<double> latencies;
  for (auto _ : state) {
    latencies.clear();
    for (size_t i = 0; i < samples; ++i) latencies.push_back(loopback.RoundTrip(static_cast<unsigned char>(i)));
  }
  state.counters["samples"] = static_cast<double>(samples);
  state.counters["p50_us"] = Percentile(latencies, 0.50) * 1e6;
  state.counters["p99_us"] = Percentile(latencies, 0.99) * 1e6;
  state.counters["p999_us"] = Percentile(latencies, 0.999) * 1e6;
}

// Back to back: the sender does not wait for the loop; the rate counts until the last byte
// is back, and every byte must come back in the order sent.
void SustainedRateBenchmark(benchmark::State& state, size_t messages) {
  std::vector<unsigned char> sent;
  for (size_t i = 0; i < messages; ++i) sent.insert(sent.end(), {0x90, static_cast<unsigned char>(i & 0x7F), 0x40});
  double rate = 0;
  size_t delivered = 0;
  for (auto _ : state) {
    Loopback loopback(sent.size());
    Clock::time_point start = Clock::now();
    for (size_t i = 0; i < messages; ++i) loopback.Send(&sent[3 * i], 3);
    if (!loopback.WaitForBytes(sent.size())) state.SkipWithError("messages were lost");
    rate = static_cast<double>(messages) /
           Seconds(Clock::duration(loopback.arrivals().lastArrival.load()) - start.time_since_epoch());
    delivered = loopback.arrivals().bytes == sent ? messages : 0;
    if (delivered != messages) state.SkipWithError("messages came back changed or out of order");
  }
  state.counters["messages_per_s"] = rate;
  state.counters["delivered"] = static_cast<double>(delivered);
  state.counters["sent"] = static_cast<double>(messages);
}

// From /proc/self/status, in KiB.
double StatusValue(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1));
  return 0;
}

// Streams round trips; the peak is taken over the streaming alone (the high-water mark is
// reset first), the growth from the end of the first third to the end.
void MemoryBenchmark(benchmark::State& state, size_t roundTrips) {
  double peak = 0, growth = 0;
  for (auto _ : state) {
    Loopback loopback(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    double afterWarmUp = 0;
    for (size_t i = 0; i < roundTrips; ++i) {
      loopback.RoundTrip(static_cast<unsigned char>(i));
      if (i == roundTrips / 3) afterWarmUp = StatusValue("VmRSS");
    }
    growth = StatusValue("VmRSS") - afterWarmUp;
    peak = StatusValue("VmHWM");
  }
  state.counters["peak_kib"] = peak;
  state.counters["growth_kib"] = growth;
  state.counters["round_trips"] = static_cast<double>(roundTrips);
}

}  // namespace

void RegisterStreamBenchmarks(bool smoke) {
  // Each runs once, with its own count of messages: the figures are distributions and totals.
  benchmark::RegisterBenchmark("RoundTrip", RoundTripBenchmark, smoke ? 20 : 20000)->Iterations(1);
  benchmark::RegisterBenchmark("SustainedRate", SustainedRateBenchmark, smoke ? 20 : 20000)->Iterations(1);
  benchmark::RegisterBenchmark("Memory", MemoryBenchmark, smoke ? 30 : 300000)->Iterations(1);
}

}  // namespace bench
