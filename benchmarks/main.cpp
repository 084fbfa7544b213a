// portlink_bench: the benchmarks, one table at the end (no arguments, or Google Benchmark's
// own flags); --smoke FILE checks the recorded platform calls and runs every benchmark once;
// --check-calls FILE only checks the calls; --record FILE writes the calls as measured now.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iostream>
#include <string>

#include "benchmarks/benchmarks.h"
#include "benchmarks/call_record.h"
#include "benchmarks/table_reporter.h"

namespace {

// Interfaces beside the hidden-port device in the recorded counts.
const std::vector<int> kRecordedScales = {0, 10, 100};

int Record(const std::string& path) {
  std::ofstream out(path);
  bench::WriteRecord(bench::CountAll(bench::CountedOperations(kRecordedScales)), out);
  bench::ReleaseMachine();
  return out ? 0 : 1;
}

int CheckCalls(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "cannot read " << path << "\n";
    return 1;
  }
  std::vector<bench::Operation> operations = bench::CountedOperations(kRecordedScales);
  bench::CallRecord measured = bench::CountAll(operations);
  std::vector<std::string> differences = bench::CompareWithRecord(bench::ReadRecord(in), measured);
  for (const std::string& line : bench::CompareWithRequired(operations, measured)) differences.push_back(line);
  for (const std::string& line : differences) std::cerr << line << "\n";
  if (differences.empty()) std::cout << measured.size() << " operations make exactly their recorded calls\n";
  return differences.empty() ? 0 : 1;
}

int RunBenchmarks(int argc, char** argv, bool smoke) {
  bench::RegisterSendBenchmarks(smoke);
  bench::RegisterStreamBenchmarks(smoke);
  bench::RegisterEnumerationBenchmarks(smoke);
  bench::RegisterInstallBenchmarks(smoke);
  benchmark::Initialize(&argc, argv);
  bench::TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  bench::ReleaseMachine();
  return reporter.AllRan() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--record" && argc > 2) return Record(argv[2]);
  if (mode == "--check-calls" && argc > 2) {
    int result = CheckCalls(argv[2]);
    bench::ReleaseMachine();
    return result;
  }
  if (mode == "--smoke" && argc > 2) {
    int result = CheckCalls(argv[2]);
    char* rest[] = {argv[0]};
    return RunBenchmarks(1, rest, true) | result;
  }
  return RunBenchmarks(argc, argv, false);
}
