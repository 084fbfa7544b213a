// The operations that enumerate, at 0, 10, 100 and 1,000 other audio interfaces: time per
// call (manual time: only the call itself), and the calls made and required for the table.
#include <string>

#include "benchmarks/benchmarks.h"
#include "benchmarks/operations.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

void ReportCalls(benchmark::State& state, const Operation& operation) {
  state.counters["calls"] = static_cast<double>(Total(CountCalls(operation)));
  state.counters["required"] = static_cast<double>(Total(RequiredCalls(operation)));
}

void GetDeviceCountBenchmark(benchmark::State& state) {
  const Machine& machine = UseMachine(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    unsigned count = machine.connection->GetDeviceCount();
    state.SetIterationTime(Seconds(Clock::now() - start));
    if (count != 1) state.SkipWithError("GetDeviceCount is not 1");
  }
  ReportCalls(state, {"GetDeviceCount", static_cast<int>(state.range(0))});
}

void OpenOutputBenchmark(benchmark::State& state) {
  const Machine& machine = UseMachine(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    Opened opened = CreateDeviceAndOpenOutput(machine);
    state.SetIterationTime(Seconds(Clock::now() - start));
    opened.DestroyAll();
  }
  ReportCalls(state, {"CreateDevice+OpenOutput", static_cast<int>(state.range(0))});
}

void OpenInputBenchmark(benchmark::State& state) {
  const Machine& machine = UseMachine(static_cast<int>(state.range(0)));
  Opened device;
  device.device = CreateDevice0(machine);
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    Opened opened = OpenInputOf(device.device);
    state.SetIterationTime(Seconds(Clock::now() - start));
    // Destroyed only once it reads: destroying it sooner measures a different path.
    if (!WaitUntilReading(machine)) state.SkipWithError("the input does not read");
    opened.DestroyAll();
  }
  device.DestroyAll();
  ReportCalls(state, {"OpenInput", static_cast<int>(state.range(0))});
}

}  // namespace

void RegisterEnumerationBenchmarks(bool smoke) {
  struct Family {
    const char* name;
    void (*function)(benchmark::State&);
  };
  for (Family family : {Family{"GetDeviceCount", GetDeviceCountBenchmark},
                        Family{"CreateDevice+OpenOutput", OpenOutputBenchmark},
                        Family{"OpenInput", OpenInputBenchmark}}) {
    for (int others : kScales) {
      auto* benchmark = benchmark::RegisterBenchmark(family.name, family.function)->Arg(others)->UseManualTime();
      // Destroying an input takes its 10 ms poll, so inputs are opened a fixed number of times.
      if (smoke) benchmark->Iterations(1);
      else if (family.function == OpenInputBenchmark) benchmark->Iterations(others >= 1000 ? 10 : 40);
      else benchmark->MinTime(0.5);
    }
  }
}

}  // namespace bench
