// Send against its two floors, measured side by side on the same machine and pin factory:
// each iteration issues one Send, the same platform calls by hand, and the bare writes with
// their waits, in rotating order, each timed on its own. Ratios of the sums hold on a noisy
// machine where absolute times drift.
#include <vector>

#include "benchmarks/bench_machine.h"
#include "benchmarks/benchmarks.h"
#include "benchmarks/direct_pin.h"
#include "benchmarks/operations.h"
#include "winsim/control_ks.h"

namespace bench {
namespace {

// Captured writes are forgotten this often, so that memory stays flat however long it runs.
const int kClearEvery = 256;

std::vector<unsigned char> MidiBytes(size_t length) {
  if (length == 3) return {0x90, 0x3C, 0x64};  // note on
  std::vector<unsigned char> bytes(length, 0x11);  // a SysEx message of that length
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

void SendBenchmark(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  const Machine& machine = UseMachine(0, false);
  Opened opened = CreateDeviceAndOpenOutput(machine);
  DirectPin pin(machine.hiddenPath, length);
  std::vector<unsigned char> bytes = MidiBytes(length);
  using Clock = std::chrono::steady_clock;
  Clock::duration spent[3] = {};
  int round = 0;
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) {
      int which = (round + k) % 3;
      Clock::time_point start = Clock::now();
      if (which == 0) opened.output->Send(bytes.data(), static_cast<int>(length));
      if (which == 1) pin.SendCalls();
      if (which == 2) pin.WriteAndWait();
      spent[which] += Clock::now() - start;
    }
    if (++round % kClearEvery == 0) winsim::ClearCapturedWrites(machine.hiddenPath);
  }
  double iterations = static_cast<double>(state.iterations());
  state.counters["send_us"] = Seconds(spent[0]) * 1e6 / iterations;
  state.counters["calls_us"] = Seconds(spent[1]) * 1e6 / iterations;
  state.counters["bare_us"] = Seconds(spent[2]) * 1e6 / iterations;
  Operation operation{"Send", static_cast<int>(length)};
  opened.DestroyAll();
  winsim::ClearCapturedWrites(machine.hiddenPath);
  state.counters["calls"] = static_cast<double>(Total(CountCalls(operation)));
  state.counters["required"] = static_cast<double>(Total(RequiredCalls(operation)));
}

}  // namespace

void RegisterSendBenchmarks(bool smoke) {
  for (int length : {3, 640, 65536}) {
    auto* benchmark = benchmark::RegisterBenchmark("Send", SendBenchmark)->Arg(length);
    if (smoke) benchmark->Iterations(1);
    else benchmark->MinTime(length > 640 ? 2.0 : 1.0);
  }
}

}  // namespace bench
