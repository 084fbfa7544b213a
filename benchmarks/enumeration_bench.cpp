// The operations that enumerate, at 0, 10, 100 and 1,000 other audio interfaces: time per
// call (manual time: only the call itself), and the calls made and required for the table.
// Their growth from 100 to 1,000 is measured apart, in rounds that alternate the scales.
#include <string>
#include <vector>

#include "benchmarks/benchmarks.h"
#include "benchmarks/operations.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// Times one call of an enumerating operation; what it opened is destroyed untimed. False
// when the operation did not do its work.
using TimedCall = bool (*)(const Machine& machine, Clock::duration* spent);

bool TimeGetDeviceCount(const Machine& machine, Clock::duration* spent) {
  Clock::time_point start = Clock::now();
  unsigned count = machine.connection->GetDeviceCount();
  *spent = Clock::now() - start;
  return count == 1;
}

bool TimeOpenOutput(const Machine& machine, Clock::duration* spent) {
  Clock::time_point start = Clock::now();
  Opened opened = CreateDeviceAndOpenOutput(machine);
  *spent = Clock::now() - start;
  opened.DestroyAll();
  return true;
}

bool TimeOpenInput(const Machine& machine, Clock::duration* spent) {
  Opened device;
  device.device = CreateDevice0(machine);
  Clock::time_point start = Clock::now();
  Opened opened = OpenInputOf(device.device);
  *spent = Clock::now() - start;
  // Destroyed only once it reads: destroying it sooner measures a different path.
  bool reading = WaitUntilReading(machine);
  opened.DestroyAll();
  device.DestroyAll();
  return reading;
}

struct Family {
  const char* name;
  TimedCall call;
};

const Family kFamilies[] = {{"GetDeviceCount", TimeGetDeviceCount},
                            {"CreateDevice+OpenOutput", TimeOpenOutput},
                            {"OpenInput", TimeOpenInput}};

void ScaleBenchmark(benchmark::State& state, Family family) {
  const int others = static_cast<int>(state.range(0));
  const Machine& machine = UseMachine(others);
  for (auto _ : state) {
    Clock::duration spent{};
    if (!family.call(machine, &spent)) state.SkipWithError("the operation did not do its work");
    state.SetIterationTime(Seconds(spent));
  }
  Operation operation{family.name, others};
  state.counters["calls"] = static_cast<double>(Total(CountCalls(operation)));
  state.counters["required"] = static_cast<double>(Total(RequiredCalls(operation)));
}

// The median time of `calls` calls at `others` interfaces, after one untimed call.
double MedianCallSeconds(const Family& family, int others, int calls, benchmark::State& state) {
  const Machine& machine = UseMachine(others);
  Clock::duration spent{};
  std::vector<double> samples;
  for (int i = 0; i <= calls; ++i) {
    if (!family.call(machine, &spent)) state.SkipWithError("the operation did not do its work");
    if (i > 0) samples.push_back(Seconds(spent));
  }
  return Percentile(samples, 0.5);
}

// Each iteration is one round: the time per call at 0, 100 and 1,000 interfaces, one scale
// right after the other (in turn forwards and backwards), and from them the growth of the
// time per interface. A slow spell of the shared machine falls on both scales of a round
// alike; the figure is the median of the rounds.
void GrowthBenchmark(benchmark::State& state, Family family, int calls) {
  std::vector<double> growth;
  for (auto _ : state) {
    const int scales[] = {0, 100, 1000};
    double seconds[3] = {};
    for (int k = 0; k < 3; ++k) {
      int index = growth.size() % 2 == 0 ? k : 2 - k;
      seconds[index] = MedianCallSeconds(family, scales[index], calls, state);
    }
    double at100 = (seconds[1] - seconds[0]) / 100, at1000 = (seconds[2] - seconds[0]) / 1000;
    growth.push_back(at100 > 0 ? at1000 / at100 : 0);
  }
  state.counters["rounds"] = static_cast<double>(growth.size());
  state.counters["growth"] = Percentile(growth, 0.5);
}

}  // namespace

void RegisterEnumerationBenchmarks(bool smoke) {
  for (const Family& family : kFamilies) {
    for (int others : kScales) {
      auto* benchmark = benchmark::RegisterBenchmark(family.name, ScaleBenchmark, family)->Arg(others)->UseManualTime();
      // Destroying an input takes its 10 ms poll, so inputs are opened a fixed number of times.
      if (smoke) benchmark->Iterations(1);
      else if (family.call == TimeOpenInput) benchmark->Iterations(others >= 1000 ? 10 : 40);
      else benchmark->MinTime(0.5);
    }
  }
  for (const Family& family : kFamilies) {
    std::string name = std::string("Growth/") + family.name;
    benchmark::RegisterBenchmark(name.c_str(), GrowthBenchmark, family, smoke ? 1 : 5)->Iterations(smoke ? 1 : 7);
  }
}

}  // namespace bench
