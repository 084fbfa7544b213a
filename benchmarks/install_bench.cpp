// devsetup's commands and classhook's entry point at 0, 10, 100 and 1,000 other devices or
// driver nodes: time per call, and the calls made and required for the table. Registered
// scale by scale, so that each machine (a thousand published INFs take a while) is built once.
#include "benchmarks/benchmarks.h"
#include "benchmarks/install_operations.h"

namespace bench {
namespace {

void InstallBenchmark(benchmark::State& state, const char* name) {
  const Operation operation{name, static_cast<int>(state.range(0))};
  if (!RunInstallOperation(operation)) state.SkipWithError("the operation did not succeed");  // builds the machine
  for (auto _ : state)
    if (!RunInstallOperation(operation)) state.SkipWithError("the operation did not succeed");
  state.counters["calls"] = static_cast<double>(Total(CountCalls(operation)));
  state.counters["required"] = static_cast<double>(Total(RequiredCalls(operation)));
}

}  // namespace

void RegisterInstallBenchmarks(bool smoke) {
  for (int size : kScales) {
    for (const char* name : kInstallOperations) {
      auto* benchmark = benchmark::RegisterBenchmark(name, InstallBenchmark, name)->Arg(size);
      if (smoke) benchmark->Iterations(1);
      else benchmark->MinTime(0.5);
    }
  }
}

}  // namespace bench
