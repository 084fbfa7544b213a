// Collects every benchmark run and prints one table when all have run: Send against its
// floors, the loopback, enumeration by scale, memory, devsetup and classhook by scale.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class TableReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;
  // False when a benchmark reported an error.
  bool AllRan() const { return m_failures == 0; }

 private:
  struct Result {
    double secondsPerIteration = 0;
    std::map<std::string, double> counters;
  };
  double Counter(const std::string& run, const std::string& counter) const;
  double Seconds(const std::string& run) const;
  // True when the run is in the results: a filtered run prints only the rows that ran.
  bool Ran(const std::string& run) const { return m_results.count(run) > 0; }
  void PrintSend() const;
  void PrintLoopback() const;
  void PrintEnumeration() const;
  void PrintInstalling() const;
  void PrintScaled(const char* heading, const std::string& unit, const std::vector<std::string>& operations) const;

  std::map<std::string, Result> m_results;  // "Send/3", "GetDeviceCount/100", ...
  int m_failures = 0;
};

}  // namespace bench
